#pragma once

#include "core/http.h"
#include "core/library_store.h"
#include "server/document_cache.h"
#include "server/http_service.h"
#include "server/resumable_uploads.h"
#include "server/routes.h"
#include "server/server_event.h"
#include "server/server_limits.h"
#include "server/upload_space.h"

#include <asio/steady_timer.hpp>
#include <asio/thread_pool.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

/// The HTTP/1.1 server on the local network: one request per connection, every response closes it.
/// The routes decide each answer; the server carries out those that stream a file or a body. The values
/// the routes need from the application (names, icon, relay bases, the event callback) may be set from
/// any thread while connections read them.
class TeskServer {
public:
    using EventHandler = std::function<void(const ServerEvent&)>;

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

    /// Everything the routes read besides the library, as one copy.
    ServerFacts facts() const;
    std::string macName() const;
    void setMacName(std::string name);
    std::optional<std::string> localHostName() const;
    void setLocalHostName(std::optional<std::string> name);
    /// The Home Screen icon served at "/icon.png".
    std::shared_ptr<const std::string> iconPNG() const;
    void setIconPNG(std::optional<std::string> png);
    /// Whether phone pages offer the share-sheet shortcut: only where this computer can sign one. Off
    /// until the application says so.
    bool offersShareSheet() const;
    void setOffersShareSheet(bool offers);
    std::optional<std::string> followBase() const;
    void setFollowBase(std::optional<std::string> base);
    std::optional<std::string> deviceBase() const;
    void setDeviceBase(std::optional<std::string> base);

    void setOnEvent(EventHandler handler);
    /// Reports an event to the application, on the calling connection's thread.
    void report(const ServerEvent& event) const;

    /// Disk space promised to uploads in flight.
    UploadSpace& uploadSpace() { return uploadSpace_; }

    /// Connections not yet finished.
    std::size_t connectionCount() const { return service_.connectionCount(); }

private:
    /// Answers one request on its connection's strand.
    void serve(HttpConnection& connection, const HTTPRequest& request, std::string body);
    void download(HttpConnection& connection, const HTTPRequest& request, const Routes::Download& download);
    /// Streams an archive of a folder or bundle; a whole one counts as one download.
    void archive(HttpConnection& connection, Routes::Archive archive);
    void upload(HttpConnection& connection, Routes::Upload upload, std::string initialBody);
    /// One piece of an upload sent in pieces: appended when it starts where the held copy ends, else
    /// answered with that offset; the last one files the item as a whole upload would.
    void uploadPiece(HttpConnection& connection, Routes::Upload upload, std::string initialBody);
    /// Reports what an upload filed and answers on its connection's strand; no answer closes it.
    void answerUpload(std::shared_ptr<HttpConnection> connection, std::optional<HTTPResponse> response,
                      std::optional<ServerEvent> received);
    /// Ends unfinished uploads left idle too long or whose share or phone is gone, and again every
    /// ten minutes.
    void sweepPieces();
    void readSmallBody(HttpConnection& connection, Routes::SmallBody body, std::string initialBody,
                       ServerFacts facts);

    LibraryStore& store_;
    const ServerLimits limits_;
    const std::filesystem::path uploadsDir_;
    /// Outlives the connections and the disk work that hold claims on it.
    UploadSpace uploadSpace_;
    ResumableUploads pieces_;
    /// Share documents already built, by share, folder and what else goes into them.
    DocumentCache documents_;
    std::atomic<std::uint16_t> port_{0};

    mutable std::mutex factsLock_;
    ServerFacts facts_;
    std::shared_ptr<const EventHandler> onEvent_;

    /// Closing, syncing and filing a received upload can hold the disk for seconds: that runs here, never
    /// on the threads that serve connections.
    asio::thread_pool diskThreads_;
    asio::steady_timer sweepTimer_;
    HttpService service_;
};
