#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <utility>

namespace MainThread {

/// Runs `work(*target)` on the application's thread, later, if `target` still exists then. Safe to call
/// from any thread: the queued call belongs to the application object and holds `target` only weakly, so
/// a call arriving after `target` is gone does nothing.
template <typename T, typename Work>
void post(const QPointer<T>& target, Work&& work) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [target, work = std::forward<Work>(work)]() mutable {
            if (target) {
                work(*target);
            }
        },
        Qt::QueuedConnection);
}

} // namespace MainThread
