#pragma once

#include "core/http.h"
#include "core/library.h"
#include "core/unique_fd.h"

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

    // ---- Downloads ----

    /// Answers the download of one item of `share`: a file streamed with ranges, a link or note as text.
    void sendItem(const Item& item, const HTTPRequest& request, const Share& share);
    /// Streams `remaining` bytes of `file` from its current position, one chunk in flight at a time;
    /// `done(true)` once every byte was handed to the network.
    void pump(std::shared_ptr<UniqueFd> file, std::int64_t remaining, std::function<void(bool)> done);

    // ---- Uploads ----

    /// Stores what the request's body holds and names the sender; throws LibraryError or a file error.
    using FinishUpload = std::function<std::pair<Item, std::string>(const std::filesystem::path& file)>;

    /// A file posted to a share's "upload".
    void receiveUpload(const HTTPRequest& request, std::string initialBody, const Share& share,
                       const Library& library);
    /// Streams the body into incoming/<uuid>/upload.part, has `finish` store it, reports the event and
    /// answers; the directory is removed on every path.
    void streamUpload(const HTTPRequest& request, std::string initialBody, FinishUpload finish);
    /// Reads a body of 1 to 65536 bytes into memory; nothing when it is larger, missing or cut short.
    void readSmallBody(const HTTPRequest& request, std::string initial,
                       std::function<void(std::optional<std::string>)> done);

private:
    void readHead();
    void onRead(const std::error_code& error, std::size_t bytes);
    /// Dispatches a complete request: exactly once per connection.
    void route(const HTTPRequest& request, std::string body);
    void routeShare(const HTTPRequest& request, const std::string& token,
                    const std::vector<std::string>& rest, std::string body);
    /// The JSON document of `share`, as found in `library` at `version`, for the folder the query asks
    /// for; null when the folder is not one the share covers. Called under the store's lock.
    std::shared_ptr<const std::string> documentFor(const HTTPRequest& request, const Library& library,
                                                   std::uint64_t version, const Share& share);
    void routePairing(const HTTPRequest& request, const std::string& code,
                      const std::vector<std::string>& rest, std::string body);
    void routeDevice(const HTTPRequest& request, const std::string& token,
                     const std::vector<std::string>& rest, std::string body);

    /// `pump` for files the kernel cannot send directly.
    void pumpByCopying(std::shared_ptr<UniqueFd> file, std::int64_t remaining,
                       std::function<void(bool)> done);

    struct Upload;
    /// Writes the body bytes that came with the head into the upload's file, then reads the rest.
    void receiveBody(std::shared_ptr<Upload> upload, std::string initialBody, FinishUpload finish);
    /// Reads the rest of an upload's body into its file, at most 1 MiB per read.
    void readBody(std::shared_ptr<Upload> upload, std::function<void(bool)> done);
    /// Reads until `length` bytes of a small body are in `buffer`.
    void readSmallRest(std::shared_ptr<std::string> buffer, std::size_t length,
                       std::function<void(std::optional<std::string>)> done);
    /// Sends bytes that must stay alive until written (kept in `outgoing_`), then calls `then`.
    void sendHead(std::string head, std::function<void(bool)> then);

    /// Arms the deadline; when it fires before being re-armed or cancelled the connection is closed.
    void armDeadline(std::chrono::milliseconds after);
    /// Drains what the peer still sends, for at most lingerAfterResponse after the response went out,
    /// then closes.
    void linger();
    /// Reads and drops until the peer closes or the connection is closed.
    void drain();
    void finish();

    asio::ip::tcp::socket socket_;
    asio::steady_timer deadline_;
    TeskServer& server_;
    std::string peer_;
    Clock::time_point acceptedAt_;
    std::atomic<bool> hasHead_{false};
    std::string buffer_;
    /// Heads, small bodies and what is drained. Small and left uninitialised on purpose: every open
    /// connection holds one, idle ones included, and the memory of a crowd of them stays with the
    /// allocator after they are gone.
    std::array<char, 8192> readBuffer_;
    /// The response (head and body) while it is being written.
    std::string outgoing_;
    /// The read buffer of a streamed body; allocated only for uploads.
    std::vector<char> bodyBuffer_;
    bool closed_ = false;
    bool finished_ = false;
    std::function<void()> onClose_;
};
