#include "relay/relay_server.h"

#include "relay/relay_connection.h"
#include "relay/relay_state_file.h"
#include "server/listener.h"

#include <chrono>
#include <iostream>
#include <system_error>

namespace {

/// An acceptor on `port`; throws when the port cannot be used.
asio::ip::tcp::acceptor listenOn(asio::io_context& io, std::uint16_t port) {
    std::error_code error;
    if (auto acceptor = Listener::open(io, port, error)) {
        return std::move(*acceptor);
    }
    throw std::system_error(error, "listen on port " + std::to_string(port));
}

} // namespace

RelayServer::RelayServer(RelayState state, std::filesystem::path stateFile, RelayConnectionLimits limits)
    : limits_(limits)
    , stateFile_(std::move(stateFile))
    , state_(std::move(state)) {}

RelayServer::~RelayServer() {
    io_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::uint16_t RelayServer::start(std::uint16_t port) {
    acceptor_.emplace(listenOn(io_, port));
    const std::uint16_t bound = acceptor_->local_endpoint().port();
    accept();
    thread_ = std::thread([this] { io_.run(); });
    return bound;
}

void RelayServer::accept() {
    acceptor_->async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
        if (error == asio::error::operation_aborted) {
            return;
        }
        if (!error) {
            if (admitConnection()) {
                std::make_shared<RelayConnection>(std::move(socket), *this)->start();
            } else {
                std::error_code ignored;
                socket.close(ignored);
            }
        }
        accept();
    });
}

bool RelayServer::admitConnection() {
    std::size_t current = open_.load();
    while (current < limits_.maxConnections) {
        if (open_.compare_exchange_weak(current, current + 1)) {
            return true;
        }
    }
    return false;
}

RelayResponse RelayServer::handle(const HTTPRequest& request, std::string_view body) {
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::lock_guard guard(stateLock_);
    const std::uint64_t before = state_.revision();
    RelayResponse response = RelayRoutes::answer(state_, request, body, now);
    if (state_.revision() != before) {
        try {
            RelayStateFile::save(stateFile_, state_);
        } catch (const std::exception& error) {
            // The change stays in memory and goes out with the next save that works; the client must
            // not believe it is safe on disk now.
            std::cerr << "tesk-relay: could not save " << stateFile_.string() << ": " << error.what()
                      << std::endl;
            return {503,
                    {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}},
                    R"({"error":"storage"})"};
        }
    }
    return response;
}
