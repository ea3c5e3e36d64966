#include "app/system/network_watcher.h"

#include <QMetaObject>
#include <array>
#include <cerrno>
#include <cstdint>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

NetworkWatcher::NetworkWatcher(QObject* context, std::function<void()> onChange)
    : context_(context)
    , onChange_(std::move(onChange))
    , mailbox_(std::make_unique<QObject>()) {
    // The socket belongs to the namespace of the thread that opens it, so it is opened here rather than
    // on the listening thread.
    UniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (!socket) {
        return;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return;
    }
    UniqueFd stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stop) {
        return;
    }
    socket_ = std::move(socket);
    stop_ = std::move(stop);
    thread_ = std::thread([this] { listen(); });
}

NetworkWatcher::~NetworkWatcher() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        // An eventfd write of 1 cannot fail short of overflowing its counter.
        [[maybe_unused]] const auto written = ::write(stop_.get(), &one, sizeof one);
        thread_.join();
    }
}

void NetworkWatcher::listen() {
    // A path monitor reports the path it starts on; so does this.
    report();
    std::array<char, 16384> buffer;
    while (true) {
        std::array<pollfd, 2> fds{{{socket_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        // One report per batch: whatever is queued now is one change as far as the address goes.
        bool changed = false;
        while (true) {
            const auto received = ::recv(socket_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (received > 0) {
                changed = true;
                continue;
            }
            if (received < 0 && errno == EINTR) {
                continue;
            }
            // The kernel dropped messages because we fell behind: something did change.
            if (received < 0 && errno == ENOBUFS) {
                changed = true;
                continue;
            }
            if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            }
            // Anything else means the socket is unusable; the app's periodic check carries on.
            if (changed) {
                report();
            }
            return;
        }
        if (changed) {
            report();
        }
    }
}

void NetworkWatcher::report() {
    // The context is checked on its own thread, where it is destroyed, so the check cannot race.
    QMetaObject::invokeMethod(
        mailbox_.get(),
        [context = context_, onChange = onChange_] {
            if (context && onChange) {
                onChange();
            }
        },
        Qt::QueuedConnection);
}
