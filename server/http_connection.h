#pragma once

#include "core/http.h"
#include "core/unique_fd.h"

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/// How long a connection may take over each step before it is closed without (further) answer.
struct ConnectionLimits {
    /// From the accept to a complete head.
    std::chrono::milliseconds head{std::chrono::seconds(30)};
    /// Reading a small body into memory, all of it.
    std::chrono::milliseconds smallBody{std::chrono::seconds(120)};
    /// A streamed file or body that makes no progress for this long has failed.
    std::chrono::milliseconds idle{std::chrono::seconds(120)};
    /// Writing a complete response.
    std::chrono::milliseconds write{std::chrono::seconds(120)};
    /// After a response the sending side is shut and what the peer still sends is drained for at most
    /// this long, so the peer sees the whole answer instead of a reset.
    std::chrono::milliseconds linger{std::chrono::seconds(2)};
};

/// One accepted HTTP/1.1 connection: reads one request head within its deadline and hands it on; then
/// whoever answers writes a response, streams a file or a body, and the connection half-closes, lingers
/// and ends. Every step runs on the socket's strand, so none runs two of its steps at once; a failed step
/// ends the connection without an answer.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
public:
    using Clock = std::chrono::steady_clock;
    /// Takes a complete head and the body bytes that arrived with it, on the connection's strand.
    using OnRequest = std::function<void(HttpConnection&, const HTTPRequest&, std::string body)>;

    HttpConnection(asio::ip::tcp::socket socket, ConnectionLimits limits, OnRequest onRequest);
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    /// Starts reading the head.
    void start();
    /// Closes the connection from any thread (when the server makes room or shuts down).
    void closeSoon();
    /// Called once, on the connection's strand, when the connection has ended.
    void setOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }

    /// When the connection was accepted.
    Clock::time_point acceptedAt() const { return acceptedAt_; }
    /// Whether a complete head has arrived (the connection is no longer idle).
    bool hasHead() const { return hasHead_.load(); }
    /// The remote host as text (an IPv4 address, or an IPv6 literal), without the port; "unknown" when
    /// the endpoint cannot be read.
    const std::string& peer() const { return peer_; }
    /// The strand every step runs on.
    asio::any_io_executor executor() { return socket_.get_executor(); }

    /// Writes `response`, then lingers.
    void respond(const HTTPResponse& response);
    /// Writes `bytes` (an interim response), then `then(sent)`; the connection stays open.
    void sendInterim(std::string bytes, std::function<void(bool)> then);
    /// Writes `head`, then `count` bytes of `file` from `start`, one chunk in flight at a time. Calls
    /// `done(true)` once every byte was handed to the network, then lingers; on failure `done(false)`,
    /// then closes.
    void sendFile(std::string head, UniqueFd file, std::int64_t start, std::int64_t count,
                  std::function<void(bool)> done);
    /// Writes `head`, then what `produce` makes until it answers 0, one chunk in flight at a time; `produce`
    /// fills the buffer it is given and may throw to fail. `done` as for sendFile.
    void sendStream(std::string head, std::function<std::size_t(char*, std::size_t)> produce,
                    std::function<void(bool)> done);
    /// Streams a body of `length` bytes, of which `initial` came with the head, to `write` (at most 1 MiB
    /// per read; `write` answers false when it could not take them). `done(true)` once all arrived;
    /// `done(false)` when the peer left or `write` failed. No deadline runs after `done`: the answer
    /// comes from whoever works on the body then.
    void receiveBody(std::int64_t length, std::string initial,
                     std::function<bool(const char*, std::size_t)> write, std::function<void(bool)> done);
    /// Reads a body of exactly `length` bytes into memory (`initial` came with the head); nothing when
    /// the peer left first.
    void readBody(std::size_t length, std::string initial,
                  std::function<void(std::optional<std::string>)> done);

    /// Ends the connection without (further) answer. Idempotent.
    void close();

private:
    void readHead();
    void onRead(const std::error_code& error, std::size_t bytes);
    void pump(std::shared_ptr<UniqueFd> file, std::int64_t remaining, std::function<void(bool)> done);
    /// `pump` for files the kernel cannot send directly.
    void pumpByCopying(std::shared_ptr<UniqueFd> file, std::int64_t remaining,
                       std::function<void(bool)> done);
    void pumpStream(std::shared_ptr<std::function<std::size_t(char*, std::size_t)>> produce,
                    std::shared_ptr<std::vector<char>> chunk, std::function<void(bool)> done);
    void readBodyChunk(std::int64_t remaining, std::function<bool(const char*, std::size_t)> write,
                       std::function<void(bool)> done);
    void readSmallRest(std::shared_ptr<std::string> buffer, std::size_t length,
                       std::function<void(std::optional<std::string>)> done);
    /// Arms the deadline; when it fires before being moved or cancelled the connection is closed.
    void armDeadline(std::chrono::milliseconds after);
    void linger();
    /// Reads and drops until the peer closes or the connection is closed.
    void drain();

    asio::ip::tcp::socket socket_;
    asio::steady_timer deadline_;
    const ConnectionLimits limits_;
    OnRequest onRequest_;
    std::string peer_;
    Clock::time_point acceptedAt_;
    std::atomic<bool> hasHead_{false};
    std::string buffer_;
    /// Heads, small bodies and what is drained. Small and left uninitialised on purpose: every open
    /// connection holds one, idle ones included, and the memory of a crowd of them stays with the
    /// allocator after they are gone.
    std::array<char, 8192> readBuffer_;
    /// What is being written, kept alive until it is.
    std::string outgoing_;
    /// The read buffer of a streamed body; allocated only while one arrives.
    std::vector<char> bodyBuffer_;
    bool closed_ = false;
    std::function<void()> onClose_;
};
