#include "server/tesk_server.h"

#include "server/listener.h"
#include "server/request_handler.h"

#include <asio/bind_executor.hpp>
#include <asio/post.hpp>

#include <algorithm>
#include <csignal>
#include <future>

namespace fs = std::filesystem;

namespace {

/// Two threads keep one slow disk read from stalling every other phone; more buys nothing on a laptop.
std::size_t threadCount() {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 2, 4);
}

/// Two uploads finishing together sync side by side; beyond that the disk itself is the limit.
constexpr std::size_t diskThreadCount = 2;

} // namespace

TeskServer::TeskServer(LibraryStore& store, std::string macName, ServerLimits limits)
    : store_(store)
    , limits_(limits)
    , uploadsDir_(store.root / "incoming")
    , work_(asio::make_work_guard(io_))
    , listenerStrand_(asio::make_strand(io_))
    , acceptPause_(listenerStrand_)
    , diskThreads_(diskThreadCount)
    , macName_(std::move(macName)) {
    // sendfile(2) has no MSG_NOSIGNAL: a phone hanging up mid-download would otherwise raise SIGPIPE and
    // end the whole process. The failed write is reported as EPIPE instead.
    static const bool ignoringBrokenPipes = [] { return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
    (void)ignoringBrokenPipes;
    // Nothing can be in flight yet: whatever an earlier run left half-received is garbage.
    std::error_code ignored;
    for (fs::directory_iterator it(uploadsDir_, ignored), end; !ignored && it != end; it.increment(ignored)) {
        std::error_code removeError;
        fs::remove_all(it->path(), removeError);
    }
    fs::create_directories(uploadsDir_, ignored);
    for (std::size_t i = 0; i < threadCount(); ++i) {
        threads_.emplace_back([this] { io_.run(); });
    }
}

TeskServer::~TeskServer() {
    stop();
    std::vector<std::shared_ptr<RequestHandler>> open;
    {
        std::lock_guard guard(connectionsLock_);
        for (const auto& [key, handler] : connections_) {
            open.push_back(handler);
        }
    }
    for (const auto& handler : open) {
        handler->closeSoon();
    }
    work_.reset();
    io_.stop();
    for (auto& thread : threads_) {
        thread.join();
    }
    // Only connection threads hand work to the disk threads: with those gone, this runs out. What it
    // posts back to a connection is never run; an upload it files is kept all the same.
    diskThreads_.join();
    std::lock_guard guard(connectionsLock_);
    connections_.clear();
}

void TeskServer::start(const std::vector<std::uint16_t>& preferredPorts) {
    std::vector<std::uint16_t> candidates = preferredPorts;
    candidates.push_back(0);
    std::error_code lastError;
    for (const std::uint16_t candidate : candidates) {
        std::error_code error;
        auto acceptor = Listener::open(io_, candidate, error);
        if (!acceptor) {
            lastError = error;
            continue;
        }
        const auto bound = acceptor->local_endpoint(error).port();
        if (error || bound == 0) {
            continue;
        }
        asio::post(listenerStrand_,
                   [this, a = std::make_shared<asio::ip::tcp::acceptor>(std::move(*acceptor))]() mutable {
                       acceptor_.emplace(std::move(*a));
                       accept();
                   });
        port_ = bound;
        return;
    }
    if (!lastError) {
        lastError = std::make_error_code(std::errc::address_in_use);
    }
    throw std::system_error(lastError, "listen");
}

void TeskServer::stop() {
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

void TeskServer::accept() {
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

void TeskServer::acceptLater() {
    acceptPause_.expires_after(std::chrono::milliseconds(100));
    acceptPause_.async_wait([this](std::error_code error) {
        if (!error) {
            accept();
        }
    });
}

void TeskServer::admit(asio::ip::tcp::socket socket) {
    std::shared_ptr<RequestHandler> handler;
    std::shared_ptr<RequestHandler> displaced;
    {
        std::lock_guard guard(connectionsLock_);
        if (connections_.size() >= limits_.maxConnections) {
            // Make room by dropping whoever has waited longest without sending a head; a full house of
            // busy transfers turns the newcomer away instead.
            auto oldest = connections_.end();
            for (auto it = connections_.begin(); it != connections_.end(); ++it) {
                if (!it->second->hasHead() && (oldest == connections_.end() ||
                                               it->second->acceptedAt() < oldest->second->acceptedAt())) {
                    oldest = it;
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
        handler = std::make_shared<RequestHandler>(std::move(socket), *this);
        connections_.emplace(handler.get(), handler);
    }
    if (displaced) {
        displaced->closeSoon();
    }
    handler->setOnClose([this, key = handler.get()] {
        std::lock_guard guard(connectionsLock_);
        connections_.erase(key);
    });
    handler->start();
}

void TeskServer::runOnDisk(std::function<void()> work) {
    asio::post(diskThreads_, std::move(work));
}

std::size_t TeskServer::connectionCount() const {
    std::lock_guard guard(connectionsLock_);
    return connections_.size();
}

std::string TeskServer::macName() const {
    std::lock_guard guard(propertiesLock_);
    return macName_;
}

void TeskServer::setMacName(std::string name) {
    std::lock_guard guard(propertiesLock_);
    macName_ = std::move(name);
}

std::optional<std::string> TeskServer::localHostName() const {
    std::lock_guard guard(propertiesLock_);
    return localHostName_;
}

void TeskServer::setLocalHostName(std::optional<std::string> name) {
    std::lock_guard guard(propertiesLock_);
    localHostName_ = std::move(name);
}

std::shared_ptr<const std::string> TeskServer::iconPNG() const {
    std::lock_guard guard(propertiesLock_);
    return iconPNG_;
}

void TeskServer::setIconPNG(std::optional<std::string> png) {
    auto icon = png ? std::make_shared<const std::string>(std::move(*png)) : nullptr;
    std::lock_guard guard(propertiesLock_);
    iconPNG_ = std::move(icon);
}

void TeskServer::setOnEvent(EventHandler handler) {
    auto shared = handler ? std::make_shared<const EventHandler>(std::move(handler)) : nullptr;
    std::lock_guard guard(propertiesLock_);
    onEvent_ = std::move(shared);
}

void TeskServer::report(const ServerEvent& event) const {
    std::shared_ptr<const EventHandler> handler;
    {
        std::lock_guard guard(propertiesLock_);
        handler = onEvent_;
    }
    if (handler) {
        (*handler)(event);
    }
}

std::optional<std::string> TeskServer::followBase() const {
    std::lock_guard guard(followLock_);
    return followBase_;
}

void TeskServer::setFollowBase(std::optional<std::string> base) {
    std::lock_guard guard(followLock_);
    followBase_ = std::move(base);
}

std::optional<std::string> TeskServer::deviceBase() const {
    std::lock_guard guard(followLock_);
    return deviceBase_;
}

void TeskServer::setDeviceBase(std::optional<std::string> base) {
    std::lock_guard guard(followLock_);
    deviceBase_ = std::move(base);
}

void TeskServer::setRouter(Router router) {
    auto shared = router ? std::make_shared<const Router>(std::move(router)) : nullptr;
    std::lock_guard guard(propertiesLock_);
    router_ = std::move(shared);
}

std::shared_ptr<const TeskServer::Router> TeskServer::router() const {
    std::lock_guard guard(propertiesLock_);
    return router_;
}
