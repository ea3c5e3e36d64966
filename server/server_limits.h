#pragma once

#include <chrono>
#include <cstddef>

/// Bounds on what clients can hold: idle sockets must never lock phones out.
struct ServerLimits {
    /// A connection that has not sent a complete head by then is closed without a response.
    std::chrono::milliseconds headDeadline{std::chrono::seconds(30)};
    /// A download or upload that makes no progress for this long is ended as failed.
    std::chrono::milliseconds transferIdle{std::chrono::seconds(120)};
    /// Open connections at most; a newcomer at the cap displaces the longest-waiting idle one.
    std::size_t maxConnections = 512;
    /// After a response, how long unread request bytes are drained so the peer sees the whole answer
    /// instead of a reset.
    std::chrono::milliseconds lingerAfterResponse{std::chrono::seconds(2)};
};
