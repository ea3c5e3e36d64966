#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

/// Bounds on what clients can hold: idle sockets must never lock phones out, uploads must never fill the
/// disk.
struct ServerLimits {
    /// A connection that has not sent a complete head by then is closed without a response.
    std::chrono::milliseconds headDeadline{std::chrono::seconds(30)};
    /// A download or upload that makes no progress for this long is ended as failed.
    std::chrono::milliseconds transferIdle{std::chrono::seconds(120)};
    /// Open connections at most; a newcomer at the cap displaces the longest-waiting idle one.
    std::size_t maxConnections = 512;
    /// After every response the sending side is shut and what the peer still sends is drained for at
    /// most this long, so the peer sees the whole answer instead of a reset.
    std::chrono::milliseconds lingerAfterResponse{std::chrono::seconds(2)};
    /// Bytes an upload must leave free on the library's disk, so that the index can still be saved; an
    /// upload announcing more than the free space minus this is refused before its body (413).
    std::uint64_t uploadReserve = 64ull << 20;
};
