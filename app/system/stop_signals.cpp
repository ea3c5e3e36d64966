#include "app/system/stop_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t stopSet() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    return stops;
}

} // namespace

void StopSignals::block() {
    const sigset_t stops = stopSet();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

StopSignals::StopSignals(QObject* parent)
    : QObject(parent) {
    // A thread that did not inherit the mask would take the signal's default action and kill the
    // process; blocking here as well covers a caller that forgot block().
    block();
    const sigset_t stops = stopSet();
    fd_.reset(::signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!fd_) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_.get(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info;
        while (::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        emit stopRequested();
    });
    connect(this, &StopSignals::stopRequested, QCoreApplication::instance(), &QCoreApplication::quit,
            Qt::QueuedConnection);
}

StopSignals::~StopSignals() = default;
