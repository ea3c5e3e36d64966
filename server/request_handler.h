#pragma once

#include "core/http.h"

#include <array>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class TeskServer;

/// One accepted connection: reads one request head, routes it, writes one response, closes. Every step
/// runs on the connection's own strand, so a handler never runs two of its steps at once.
class RequestHandler : public std::enable_shared_from_this<RequestHandler> {
public:
    using Clock = std::chrono::steady_clock;

    RequestHandler(asio::ip::tcp::socket socket, TeskServer& server);
    RequestHandler(const RequestHandler&) = delete;
    RequestHandler& operator=(const RequestHandler&) = delete;

    /// Starts reading the head.
    void start();
    /// Closes the connection from any thread (used when the server makes room or shuts down).
    void closeSoon();

    /// Called once, on the handler's strand, when the connection has ended.
    void setOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }

    /// When the connection was accepted.
    Clock::time_point acceptedAt() const { return acceptedAt_; }
    /// Whether a complete head has arrived (the connection is no longer idle).
    bool hasHead() const { return hasHead_.load(); }

    /// The remote host as text (an IPv4 address, or an IPv6 literal), without the port; "unknown" when
    /// the endpoint cannot be read.
    const std::string& peer() const { return peer_; }

    /// Sends one complete response with "Content-Length" appended, then closes.
    void respond(int status, HTTP::Headers headers, std::string body);
    /// A UTF-8 plain-text response.
    void respondText(int status, std::string_view text);
    /// A UTF-8 HTML response that browsers must not cache.
    void respondHTML(int status, std::string_view html);

    /// Ends the connection without (further) answer. Idempotent.
    void close();
    /// Routes that read the whole request body say so: the connection then closes without draining.
    void setBodyConsumed() { unreadBody_ = false; }

private:
    void readHead();
    void onRead(const std::error_code& error, std::size_t bytes);
    /// Dispatches a complete request: exactly once per connection.
    void route(const HTTPRequest& request, std::string body);

    /// Arms the deadline; when it fires before being re-armed or cancelled the connection is closed.
    void armDeadline(std::chrono::milliseconds after);
    /// Drains what the peer still sends, briefly, after the response went out, then closes.
    void linger();
    void finish();

    asio::ip::tcp::socket socket_;
    asio::steady_timer deadline_;
    TeskServer& server_;
    std::string peer_;
    Clock::time_point acceptedAt_;
    std::atomic<bool> hasHead_{false};
    std::string buffer_;
    std::array<char, 65536> readBuffer_{};
    /// The response (head and body) while it is being written.
    std::string outgoing_;
    /// The request announced more body than has been read.
    bool unreadBody_ = false;
    bool closed_ = false;
    bool finished_ = false;
    std::function<void()> onClose_;
};
