#pragma once

#include "core/unique_fd.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <thread>

/// Reports changes of the computer's network links, addresses and routes, the cue to look up the local
/// address again. Belongs to its context's thread: construct and destroy it there.
class NetworkWatcher {
public:
    /// Opens a route socket in the calling thread's network namespace and starts listening on a thread of
    /// its own. `onChange` runs on `context`'s thread: once soon after start, then once per batch of
    /// changes; never after the watcher or `context` is gone. Without a route socket it stays silent.
    NetworkWatcher(QObject* context, std::function<void()> onChange);
    /// Stops listening; reports still queued are dropped.
    ~NetworkWatcher();
    NetworkWatcher(const NetworkWatcher&) = delete;
    NetworkWatcher& operator=(const NetworkWatcher&) = delete;

    /// Whether the route socket is open, that is whether changes will be reported.
    bool watching() const { return static_cast<bool>(socket_); }

private:
    void listen();
    void report();

    QPointer<QObject> context_;
    std::function<void()> onChange_;
    /// Receives the queued reports: destroyed with the watcher, which drops reports still queued.
    std::unique_ptr<QObject> mailbox_;
    UniqueFd socket_;
    UniqueFd stop_;
    std::thread thread_;
};
