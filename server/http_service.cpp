#include "server/http_service.h"

#include "server/listener.h"

#include <asio/bind_executor.hpp>
#include <asio/post.hpp>

#include <csignal>
#include <future>

HttpService::HttpService(ServiceLimits limits, std::size_t threads, HttpConnection::OnRequest onRequest)
    : limits_(limits)
    , onRequest_(std::move(onRequest))
    , work_(asio::make_work_guard(io_))
    , listenerStrand_(asio::make_strand(io_))
    , acceptPause_(listenerStrand_) {
    // sendfile(2) has no MSG_NOSIGNAL: a peer that closed before a file's end would otherwise raise
    // SIGPIPE and end the whole process. The failed step is reported as EPIPE instead.
    static const bool ignoringBrokenPipes = [] { return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
    (void)ignoringBrokenPipes;
    for (std::size_t i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { io_.run(); });
    }
}

HttpService::~HttpService() {
    shutdown();
}

std::optional<std::uint16_t> HttpService::listen(std::uint16_t port, std::error_code& error) {
    auto acceptor = Listener::open(io_, port, error);
    if (!acceptor) {
        return std::nullopt;
    }
    const auto bound = acceptor->local_endpoint(error).port();
    if (error || bound == 0) {
        return std::nullopt;
    }
    asio::post(listenerStrand_, [this, a = std::make_shared<asio::ip::tcp::acceptor>(std::move(*acceptor))] {
        acceptor_.emplace(std::move(*a));
        accept();
    });
    return bound;
}

void HttpService::stop() {
    std::promise<void> stopped;
    auto done = stopped.get_future();
    asio::post(listenerStrand_, [this, &stopped] {
        if (acceptor_) {
            std::error_code ignored;
            acceptor_->close(ignored);
            acceptor_.reset();
        }
        acceptPause_.cancel();
        stopped.set_value();
    });
    // The caller expects nothing to be accepted once stop returns.
    if (!io_.stopped()) {
        done.wait();
    }
}

void HttpService::shutdown() {
    if (threads_.empty()) {
        return;
    }
    stop();
    std::vector<std::shared_ptr<HttpConnection>> open;
    {
        std::lock_guard guard(connectionsLock_);
        for (const auto& [key, connection] : connections_) {
            open.push_back(connection);
        }
    }
    for (const auto& connection : open) {
        connection->closeSoon();
    }
    work_.reset();
    io_.stop();
    for (auto& thread : threads_) {
        thread.join();
    }
    threads_.clear();
    std::lock_guard guard(connectionsLock_);
    connections_.clear();
}

void HttpService::accept() {
    if (!acceptor_) {
        return;
    }
    acceptor_->async_accept(
        asio::make_strand(io_),
        asio::bind_executor(listenerStrand_, [this](std::error_code error, asio::ip::tcp::socket socket) {
            if (!acceptor_ || error == asio::error::operation_aborted) {
                return;
            }
            if (!error) {
                admit(std::move(socket));
            } else if (error == asio::error::no_descriptors ||
                       error == std::errc::too_many_files_open_in_system ||
                       error == asio::error::no_buffer_space || error == asio::error::no_memory) {
                // The connection stays queued in the kernel, so accepting again at once fails again at
                // once: a thread would spin until something closes. Wait a moment instead.
                acceptLater();
                return;
            }
            accept();
        }));
}

void HttpService::acceptLater() {
    acceptPause_.expires_after(std::chrono::milliseconds(100));
    acceptPause_.async_wait([this](std::error_code error) {
        if (!error) {
            accept();
        }
    });
}

void HttpService::admit(asio::ip::tcp::socket socket) {
    std::shared_ptr<HttpConnection> connection;
    std::shared_ptr<HttpConnection> displaced;
    {
        std::lock_guard guard(connectionsLock_);
        if (connections_.size() >= limits_.maxConnections) {
            // Make room by dropping whoever has waited longest without sending a head; a full house of
            // busy connections turns the newcomer away instead.
            auto oldest = connections_.end();
            if (limits_.newcomerDisplacesIdle) {
                for (auto it = connections_.begin(); it != connections_.end(); ++it) {
                    if (!it->second->hasHead() && (oldest == connections_.end() ||
                                                   it->second->acceptedAt() < oldest->second->acceptedAt())) {
                        oldest = it;
                    }
                }
            }
            if (oldest == connections_.end()) {
                std::error_code ignored;
                socket.close(ignored);
                return;
            }
            displaced = oldest->second;
            connections_.erase(oldest);
        }
        connection = std::make_shared<HttpConnection>(std::move(socket), limits_.connection, onRequest_);
        connection->setOnClose([this, key = connection.get()] {
            std::lock_guard guard(connectionsLock_);
            connections_.erase(key);
        });
        connections_.emplace(connection.get(), connection);
    }
    if (displaced) {
        displaced->closeSoon();
    }
    connection->start();
}

std::size_t HttpService::connectionCount() const {
    std::lock_guard guard(connectionsLock_);
    return connections_.size();
}
