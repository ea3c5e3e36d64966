#pragma once

#include "core/http.h"
#include "core/library_store.h"
#include "server/document_cache.h"
#include "server/server_event.h"
#include "server/server_limits.h"
#include "server/upload_space.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <asio/thread_pool.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

class RequestHandler;

/// The HTTP/1.1 server on the local network: one request per connection, every response closes it.
/// Connections run on a small thread pool, each serialised on its own strand. The values the routes
/// need from the application (names, icon, relay bases, the event callback) may be set from any thread
/// while connections read them.
class TeskServer {
public:
    using EventHandler = std::function<void(const ServerEvent&)>;
    /// Answers one request on its handler's strand.
    using Router = std::function<void(RequestHandler&, const HTTPRequest&, std::string body)>;

    /// A server over `store`, not yet listening. Creates root/incoming, removing what an earlier run
    /// left there; errors are ignored.
    TeskServer(LibraryStore& store, std::string macName, ServerLimits limits = {});
    /// Closes every connection and joins the threads.
    ~TeskServer();
    TeskServer(const TeskServer&) = delete;
    TeskServer& operator=(const TeskServer&) = delete;

    /// Listens on the first of `preferredPorts` that can be bound, else on a port the system picks.
    /// Throws std::system_error with the last error when nothing can be bound.
    void start(const std::vector<std::uint16_t>& preferredPorts);
    /// Accepts nothing new; connections already accepted run to their end.
    void stop();

    /// The port listened on; 0 before `start` succeeded.
    std::uint16_t port() const { return port_.load(); }

    LibraryStore& store() const { return store_; }
    const ServerLimits& limits() const { return limits_; }
    /// Where uploads are written while they arrive: root/incoming.
    const std::filesystem::path& uploadsDir() const { return uploadsDir_; }

    std::string macName() const;
    void setMacName(std::string name);
    std::optional<std::string> localHostName() const;
    void setLocalHostName(std::optional<std::string> name);
    /// The Home Screen icon served at "/icon.png".
    std::shared_ptr<const std::string> iconPNG() const;
    void setIconPNG(std::optional<std::string> png);
    /// Whether phone pages offer the share-sheet shortcut: only where this computer can sign one. Off
    /// until the application says so.
    bool offersShareSheet() const { return offersShareSheet_.load(); }
    void setOffersShareSheet(bool offers) { offersShareSheet_.store(offers); }
    void setOnEvent(EventHandler handler);
    /// Reports an event to the application, on the calling connection's thread.
    void report(const ServerEvent& event) const;

    std::optional<std::string> followBase() const;
    void setFollowBase(std::optional<std::string> base);
    std::optional<std::string> deviceBase() const;
    void setDeviceBase(std::optional<std::string> base);

    /// Replaces the built-in routes; tests use it to see exactly what reaches a route.
    void setRouter(Router router);
    std::shared_ptr<const Router> router() const;

    /// Disk space promised to uploads in flight.
    UploadSpace& uploadSpace() { return uploadSpace_; }
    /// Runs blocking disk work (closing, syncing and filing a received upload) on the server's disk
    /// threads, never on those that serve connections. Work still queued when the server goes away is
    /// run to its end before the destructor returns.
    void runOnDisk(std::function<void()> work);

    /// Share documents already built, by share, folder and what else goes into them.
    DocumentCache& documents() { return documents_; }

    /// Connections not yet finished.
    std::size_t connectionCount() const;

private:
    void accept();
    /// Accepts again after a short pause, when accepting failed for want of descriptors or memory.
    void acceptLater();
    void admit(asio::ip::tcp::socket socket);

    LibraryStore& store_;
    const ServerLimits limits_;
    const std::filesystem::path uploadsDir_;
    /// Outlives the connections and the disk work that hold claims on it.
    UploadSpace uploadSpace_;

    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    asio::strand<asio::io_context::executor_type> listenerStrand_;
    std::optional<asio::ip::tcp::acceptor> acceptor_;
    asio::steady_timer acceptPause_;
    std::atomic<std::uint16_t> port_{0};
    std::atomic<bool> offersShareSheet_{false};
    std::vector<std::thread> threads_;
    asio::thread_pool diskThreads_;

    mutable std::mutex propertiesLock_;
    std::string macName_;
    std::optional<std::string> localHostName_;
    std::shared_ptr<const std::string> iconPNG_;
    std::shared_ptr<const EventHandler> onEvent_;
    std::shared_ptr<const Router> router_;

    mutable std::mutex followLock_;
    std::optional<std::string> followBase_;
    std::optional<std::string> deviceBase_;

    DocumentCache documents_;

    mutable std::mutex connectionsLock_;
    std::map<const RequestHandler*, std::shared_ptr<RequestHandler>> connections_;
};
