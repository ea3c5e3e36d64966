#pragma once

#include "server/http_connection.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

/// What a service lets its connections hold.
struct ServiceLimits {
    ConnectionLimits connection;
    /// Open connections at most.
    std::size_t maxConnections = 512;
    /// At the cap, a newcomer displaces the connection that has waited longest without sending a head;
    /// otherwise (or when every connection is busy) the newcomer is turned away.
    bool newcomerDisplacesIdle = true;
};

/// Accepts HTTP/1.1 connections on one port and runs them on a few threads, each connection on its own
/// strand, one request per connection. Whoever owns the service answers the requests.
class HttpService {
public:
    HttpService(ServiceLimits limits, std::size_t threads, HttpConnection::OnRequest onRequest);
    /// Closes every connection and joins the threads.
    ~HttpService();
    HttpService(const HttpService&) = delete;
    HttpService& operator=(const HttpService&) = delete;

    /// Listens on `port` (0: any free one) on every address, IPv6 and IPv4 where the machine has both;
    /// the port bound, or nothing with `error` set.
    std::optional<std::uint16_t> listen(std::uint16_t port, std::error_code& error);
    /// Accepts nothing new; connections already accepted run to their end.
    void stop();
    /// Stops, closes every connection and joins the threads; nothing runs on them afterwards.
    void shutdown();

    /// Connections not yet finished.
    std::size_t connectionCount() const;

private:
    void accept();
    /// Accepts again after a short pause, when accepting failed for want of descriptors or memory.
    void acceptLater();
    void admit(asio::ip::tcp::socket socket);

    const ServiceLimits limits_;
    const HttpConnection::OnRequest onRequest_;
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    asio::strand<asio::io_context::executor_type> listenerStrand_;
    std::optional<asio::ip::tcp::acceptor> acceptor_;
    asio::steady_timer acceptPause_;
    std::vector<std::thread> threads_;

    mutable std::mutex connectionsLock_;
    std::map<const HttpConnection*, std::shared_ptr<HttpConnection>> connections_;
};
