#pragma once

#include "core/http.h"
#include "relay/relay_routes.h"

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

class RelayServer;

/// One accepted connection: reads one request head and its body (Content-Length only, within the
/// server's limit), has the server answer it, writes the answer and closes. Every deadline ends the
/// connection without an answer.
class RelayConnection : public std::enable_shared_from_this<RelayConnection> {
public:
    /// `server` has admitted the connection; it hears of the end from the destructor.
    RelayConnection(asio::ip::tcp::socket socket, RelayServer& server);
    ~RelayConnection();
    RelayConnection(const RelayConnection&) = delete;
    RelayConnection& operator=(const RelayConnection&) = delete;

    /// Starts reading the head.
    void start();

private:
    void readHead();
    void onHead(const std::error_code& error, std::size_t bytes);
    void readBody();
    void respond(const RelayResponse& response);
    /// Reads and drops what the client still sends until it closes or the linger deadline passes.
    void linger();
    void drain();
    void armDeadline(std::chrono::milliseconds after);
    void close();

    asio::ip::tcp::socket socket_;
    asio::steady_timer deadline_;
    RelayServer& server_;
    std::string buffer_;
    std::array<char, 16384> readBuffer_{};
    std::optional<HTTPRequest> request_;
    std::size_t bodyLength_ = 0;
    std::string outgoing_;
    /// The request announced body bytes that were never read.
    bool unreadBody_ = false;
    bool closed_ = false;
};
