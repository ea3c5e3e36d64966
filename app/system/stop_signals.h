#pragma once

#include "core/unique_fd.h"

#include <QObject>
#include <memory>

class QSocketNotifier;

/// Turns SIGINT and SIGTERM into a clean quit of the event loop: the signals are blocked in every thread
/// and read from a signalfd on the main thread, so no thread is ever interrupted by them.
class StopSignals : public QObject {
    Q_OBJECT

public:
    /// Blocks the signals in the calling thread and in every thread it starts later. Call first in main,
    /// before the application object starts its threads.
    static void block();
    /// Reads the signals on this thread's event loop. Needs the application object.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    /// A stop signal arrived; by default the application quits.
    void stopRequested();

private:
    UniqueFd fd_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
