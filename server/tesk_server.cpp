#include "server/tesk_server.h"

#include "core/library_error.h"
#include "core/names.h"

#include <asio/post.hpp>
#include <asio/strand.hpp>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

/// Two threads keep one slow disk read from stalling every other phone; more buys nothing on a laptop.
std::size_t threadCount() {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 2, 4);
}

/// Two uploads finishing together sync side by side; beyond that the disk itself is the limit.
constexpr std::size_t diskThreadCount = 2;

const std::string continueResponse = "HTTP/1.1 100 Continue\r\n\r\n";

ServiceLimits serviceLimits(const ServerLimits& limits) {
    return {{limits.headDeadline, limits.transferIdle, limits.transferIdle, limits.transferIdle,
             limits.lingerAfterResponse},
            limits.maxConnections,
            true};
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

/// One upload arriving on disk: its directory, its open file and the disk space it was promised.
struct IncomingFile {
    explicit IncomingFile(UploadSpace::Claim claim)
        : space(std::move(claim)) {}

    UploadSpace::Claim space;
    fs::path directory;
    UniqueFd file;
    /// The disk refused a write (full, or failing): the phone is told, unlike when it hangs up.
    bool writeFailed = false;

    fs::path path() const { return directory / "upload.part"; }
    /// Writes body bytes to the file; they then count as used disk space rather than promised.
    bool write(const char* data, std::size_t size) {
        if (!writeAll(file.get(), data, size)) {
            writeFailed = true;
            return false;
        }
        space.landed(size);
        return true;
    }
    /// Gives back the promised space, closes the file and removes the directory; errors are of no further
    /// use.
    void cleanUp() {
        space.release();
        file.reset();
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }
};

/// Closes, files and removes an upload that arrived (`complete`) or not: the answer (none when the phone
/// left) and the event to report. Blocking disk work, for a disk thread.
/// Files a whole received upload from `path`: the answer (201 with `body`) and the event, or the refusal.
std::pair<std::optional<HTTPResponse>, std::optional<ServerEvent>>
fileUpload(const Routes::Upload& upload, const fs::path& path, LibraryStore& store, const std::string& body) {
    try {
        Item item = Routes::file(upload, path, store);
        return {HTTPResponse::json(201, body),
                ServerEvent{ServerEvent::Received{std::move(item), upload.sender}}};
    } catch (const LibraryError& error) {
        return {
            HTTPResponse::text(error.code() == LibraryError::notFound ? 404 : 500, "Couldn't save the file"),
            std::nullopt};
    } catch (const std::exception&) {
        return {HTTPResponse::text(500, "Couldn't save the file"), std::nullopt};
    }
}

std::pair<std::optional<HTTPResponse>, std::optional<ServerEvent>>
settle(IncomingFile& incoming, const Routes::Upload& upload, bool complete, LibraryStore& store) {
    if (incoming.file.close() != 0) {
        incoming.writeFailed = true; // a write the disk could not complete shows up here
    }
    std::pair<std::optional<HTTPResponse>, std::optional<ServerEvent>> settled;
    if (incoming.writeFailed) {
        settled.first = HTTPResponse::text(500, "Couldn't save the file");
    } else if (complete) {
        settled = fileUpload(upload, incoming.path(), store, R"({"ok":true})");
    }
    incoming.cleanUp();
    return settled;
}

} // namespace

TeskServer::TeskServer(LibraryStore& store, std::string macName, ServerLimits limits)
    : store_(store)
    , limits_(limits)
    , uploadsDir_(store.root / "incoming")
    , pieces_(uploadsDir_, uploadSpace_, limits_.uploadReserve)
    , diskThreads_(diskThreadCount)
    , sweepTimer_(asio::make_strand(diskThreads_))
    , service_(serviceLimits(limits), threadCount(),
               [this](HttpConnection& connection, const HTTPRequest& request, std::string body) {
                   serve(connection, request, std::move(body));
               }) {
    facts_.macName = std::move(macName);
    // Whatever an earlier run left half-received is gone already, but for uploads that can still resume.
    sweepPieces();
}

TeskServer::~TeskServer() {
    service_.shutdown();
    asio::post(sweepTimer_.get_executor(), [this] { sweepTimer_.cancel(); });
    // Only connection threads hand work to the disk threads: with those gone, this runs out. What it
    // posts back to a connection is never run; an upload it files is kept all the same.
    diskThreads_.join();
}

void TeskServer::start(const std::vector<std::uint16_t>& preferredPorts) {
    std::vector<std::uint16_t> candidates = preferredPorts;
    candidates.push_back(0);
    std::error_code lastError;
    for (const std::uint16_t candidate : candidates) {
        std::error_code error;
        if (const auto bound = service_.listen(candidate, error)) {
            port_ = *bound;
            return;
        }
        if (error) {
            lastError = error;
        }
    }
    if (!lastError) {
        lastError = std::make_error_code(std::errc::address_in_use);
    }
    throw std::system_error(lastError, "listen");
}

void TeskServer::stop() {
    service_.stop();
}

void TeskServer::sweepPieces() {
    pieces_.sweep([this](const std::string& scope) {
        const std::string token = scope.substr(1);
        return store_.read([&](const Library& library, auto) {
            if (scope.starts_with("s")) {
                const auto share = library.share(token);
                return share && share->isActive(store_.currentDate()) && share->allowsUploads;
            }
            return std::any_of(library.devices.begin(), library.devices.end(),
                               [&](const PairedDevice& device) { return device.token == token; });
        });
    });
    sweepTimer_.expires_after(std::chrono::minutes(10));
    sweepTimer_.async_wait([this](const std::error_code& error) {
        if (!error) {
            sweepPieces();
        }
    });
}

void TeskServer::serve(HttpConnection& connection, const HTTPRequest& request, std::string body) {
    ServerFacts facts = this->facts();
    auto answer = Routes::answer(request, store_, facts, documents_);
    if (const auto* response = std::get_if<HTTPResponse>(&answer)) {
        connection.respond(*response);
    } else if (const auto* download = std::get_if<Routes::Download>(&answer)) {
        this->download(connection, request, *download);
    } else if (auto* archive = std::get_if<Routes::Archive>(&answer)) {
        this->archive(connection, std::move(*archive));
    } else if (auto* upload = std::get_if<Routes::Upload>(&answer)) {
        if (upload->piece) {
            uploadPiece(connection, std::move(*upload), std::move(body));
        } else {
            this->upload(connection, std::move(*upload), std::move(body));
        }
    } else {
        readSmallBody(connection, std::get<Routes::SmallBody>(std::move(answer)), std::move(body),
                      std::move(facts));
    }
}

void TeskServer::download(HttpConnection& connection, const HTTPRequest& request,
                          const Routes::Download& download) {
    UniqueFd file(::open(store_.filePath(download.item).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        connection.respond(HTTPResponse::text(404, "This file is no longer on the computer."));
        return;
    }
    auto send = Routes::send(request, download.item, info.st_size);
    if (const auto* refused = std::get_if<HTTPResponse>(&send)) {
        connection.respond(*refused);
        return;
    }
    auto& plan = std::get<Routes::FileSend>(send);
    connection.sendFile(std::move(plan.head), std::move(file), plan.start, plan.count,
                        [this, counts = plan.counts, download, peer = connection.peer()](bool success) {
                            if (success && counts) {
                                store_.recordDownload(download.shareToken);
                                report(ServerEvent{ServerEvent::Downloaded{download.item, peer}});
                            }
                        });
}

void TeskServer::archive(HttpConnection& connection, Routes::Archive archive) {
    // The lengths the archive announces are the files' own now; a file gone meanwhile is left out.
    std::erase_if(archive.entries, [](ZipStream::Entry& entry) {
        if (entry.file.empty()) {
            return false;
        }
        struct stat info {};
        if (::stat(entry.file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return true;
        }
        entry.size = static_cast<std::uint64_t>(info.st_size);
        return false;
    });
    auto zip = std::make_shared<ZipStream>(std::move(archive.entries));
    const std::string head =
        HTTP::head(200, {{"Content-Type", "application/zip"},
                         {"Content-Disposition", HTTP::contentDisposition(archive.name, false)},
                         {"Content-Length", std::to_string(zip->size())},
                         {"Cache-Control", "no-store"}});
    connection.sendStream(
        head, [zip](char* buffer, std::size_t capacity) { return zip->read(buffer, capacity); },
        [this, token = archive.shareToken, peer = connection.peer()](bool success) {
            if (success) {
                store_.recordDownload(token);
                report(ServerEvent{ServerEvent::DownloadedArchive{token, peer}});
            }
        });
}

void TeskServer::upload(HttpConnection& connection, Routes::Upload upload, std::string initialBody) {
    // Uploads already in flight have their bytes promised: the disk must hold them all at once.
    auto claim = uploadSpace_.claim(uploadsDir_.parent_path(), static_cast<std::uint64_t>(upload.length),
                                    limits_.uploadReserve);
    if (!claim) {
        connection.respond(HTTPResponse::text(413, "Couldn't save the file"));
        return;
    }
    auto incoming = std::make_shared<IncomingFile>(std::move(*claim));
    incoming->directory = uploadsDir_ / Names::newID();
    std::error_code error;
    fs::create_directories(incoming->directory, error);
    if (!error) {
        incoming->file.reset(::open(incoming->path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    }
    if (error || !incoming->file) {
        incoming->cleanUp();
        connection.respond(HTTPResponse::text(500, "Couldn't save the file"));
        return;
    }
    auto self = connection.shared_from_this();
    // The interim answer must be on the wire before anything else is written, so the body is read only
    // after it went out. A client that already sent body bytes did not wait for it: none is needed then.
    const bool sendsContinue = upload.expectsContinue && initialBody.empty();
    auto receive = [this, self, incoming, upload = std::move(upload)](std::string initial) mutable {
        const std::int64_t length = upload.length;
        self->receiveBody(
            length, std::move(initial),
            [incoming](const char* data, std::size_t size) { return incoming->write(data, size); },
            [this, self, incoming, upload = std::move(upload)](bool complete) mutable {
                // Closing, syncing and filing a large file can hold the disk for seconds, which on a
                // connection thread would stall every other phone. A disk thread settles the upload; the
                // connection's strand answers.
                asio::post(diskThreads_, [this, self, incoming, upload = std::move(upload), complete] {
                    auto [response, received] = settle(*incoming, upload, complete, store_);
                    answerUpload(self, std::move(response), std::move(received));
                });
            });
    };
    if (sendsContinue) {
        connection.sendInterim(continueResponse,
                               [self, incoming, receive = std::move(receive)](bool sent) mutable {
                                   if (!sent) {
                                       incoming->cleanUp();
                                       self->close();
                                       return;
                                   }
                                   receive("");
                               });
        return;
    }
    receive(std::move(initialBody));
}

void TeskServer::uploadPiece(HttpConnection& connection, Routes::Upload upload, std::string initialBody) {
    const auto& piece = *upload.piece;
    const auto* into = std::get_if<Routes::Upload::IntoShare>(&upload.destination);
    const ResumableUploads::Key key{
        into ? "s" + into->share.token : "d" + std::get<Routes::Upload::FromPhone>(upload.destination).token,
        piece.id, piece.size};
    const auto offsetAnswer = [](int status, std::int64_t held) {
        return HTTPResponse::json(status, "{\"offset\":" + std::to_string(held) + "}");
    };
    auto held = pieces_.find(key);
    if (!held && piece.offset > 0) {
        // Never begun here, or ended: the page starts again from the beginning.
        connection.respond(offsetAnswer(409, 0));
        return;
    }
    if (!held) {
        try {
            held = pieces_.create(key);
        } catch (const std::exception&) {
            connection.respond(HTTPResponse::text(500, "Couldn't save the file"));
            return;
        }
        if (!held) {
            connection.respond(HTTPResponse::text(413, "Couldn't save the file"));
            return;
        }
    }
    std::uint64_t writer = 0;
    {
        std::lock_guard guard(held->lock);
        if (held->ended || piece.offset != held->held) {
            connection.respond(offsetAnswer(409, held->ended ? 0 : held->held));
            return;
        }
        // A request the network left hanging writes no more.
        writer = ++held->writer;
    }
    auto self = connection.shared_from_this();
    const bool sendsContinue = upload.expectsContinue && initialBody.empty();
    auto receive = [this, self, held, key, writer, upload = std::move(upload)](std::string initial) mutable {
        const std::int64_t length = upload.length;
        self->receiveBody(
            length, std::move(initial),
            [held, writer](const char* data, std::size_t size) { return held->append(writer, data, size); },
            [this, self, held, key, writer, upload = std::move(upload)](bool complete) mutable {
                asio::post(diskThreads_, [this, self, held, key, writer, upload = std::move(upload),
                                          complete] {
                    std::optional<HTTPResponse> response;
                    std::optional<ServerEvent> received;
                    std::unique_lock guard(held->lock);
                    if (held->writeFailed) {
                        guard.unlock();
                        pieces_.remove(key);
                        response = HTTPResponse::text(500, "Couldn't save the file");
                    } else if (held->ended || held->writer != writer) {
                        // Taken over by a later piece, which answers for the upload.
                    } else if (held->held == held->size) {
                        // The last piece: filed as one whole upload would be.
                        held->ended = true;
                        const bool closed = held->file.close() == 0;
                        guard.unlock();
                        if (closed) {
                            std::tie(response, received) =
                                fileUpload(upload, held->path(), store_,
                                           "{\"ok\":true,\"offset\":" + std::to_string(held->size) + "}");
                        } else {
                            response = HTTPResponse::text(500, "Couldn't save the file");
                        }
                        pieces_.remove(key);
                    } else if (complete) {
                        response = HTTPResponse::json(200, "{\"offset\":" + std::to_string(held->held) + "}");
                    }
                    answerUpload(self, std::move(response), std::move(received));
                });
            });
    };
    if (sendsContinue) {
        connection.sendInterim(continueResponse, [self, receive = std::move(receive)](bool sent) mutable {
            if (!sent) {
                self->close();
                return;
            }
            receive("");
        });
        return;
    }
    receive(std::move(initialBody));
}

void TeskServer::answerUpload(std::shared_ptr<HttpConnection> connection,
                              std::optional<HTTPResponse> response, std::optional<ServerEvent> received) {
    asio::post(connection->executor(),
               [this, connection, response = std::move(response), received = std::move(received)] {
                   if (received) {
                       report(*received);
                   }
                   if (response) {
                       connection->respond(*response);
                   } else {
                       connection->close();
                   }
               });
}

void TeskServer::readSmallBody(HttpConnection& connection, Routes::SmallBody body, std::string initialBody,
                               ServerFacts facts) {
    const std::size_t length = body.length;
    connection.readBody(length, std::move(initialBody),
                        [this, self = connection.shared_from_this(), body = std::move(body),
                         facts = std::move(facts)](std::optional<std::string> received) {
                            auto settled = Routes::settle(body, received, store_, facts);
                            if (settled.event) {
                                report(*settled.event);
                            }
                            self->respond(settled.response);
                        });
}

ServerFacts TeskServer::facts() const {
    std::lock_guard guard(factsLock_);
    ServerFacts copy = facts_;
    copy.port = port_.load();
    return copy;
}

std::string TeskServer::macName() const {
    std::lock_guard guard(factsLock_);
    return facts_.macName;
}

void TeskServer::setMacName(std::string name) {
    std::lock_guard guard(factsLock_);
    facts_.macName = std::move(name);
}

std::optional<std::string> TeskServer::localHostName() const {
    std::lock_guard guard(factsLock_);
    return facts_.localHostName;
}

void TeskServer::setLocalHostName(std::optional<std::string> name) {
    std::lock_guard guard(factsLock_);
    facts_.localHostName = std::move(name);
}

std::shared_ptr<const std::string> TeskServer::iconPNG() const {
    std::lock_guard guard(factsLock_);
    return facts_.iconPNG;
}

void TeskServer::setIconPNG(std::optional<std::string> png) {
    auto icon = png ? std::make_shared<const std::string>(std::move(*png)) : nullptr;
    std::lock_guard guard(factsLock_);
    facts_.iconPNG = std::move(icon);
}

bool TeskServer::offersShareSheet() const {
    std::lock_guard guard(factsLock_);
    return facts_.offersShareSheet;
}

void TeskServer::setOffersShareSheet(bool offers) {
    std::lock_guard guard(factsLock_);
    facts_.offersShareSheet = offers;
}

std::optional<std::string> TeskServer::followBase() const {
    std::lock_guard guard(factsLock_);
    return facts_.followBase;
}

void TeskServer::setFollowBase(std::optional<std::string> base) {
    std::lock_guard guard(factsLock_);
    facts_.followBase = std::move(base);
}

std::optional<std::string> TeskServer::deviceBase() const {
    std::lock_guard guard(factsLock_);
    return facts_.deviceBase;
}

void TeskServer::setDeviceBase(std::optional<std::string> base) {
    std::lock_guard guard(factsLock_);
    facts_.deviceBase = std::move(base);
}

void TeskServer::setOnEvent(EventHandler handler) {
    auto shared = handler ? std::make_shared<const EventHandler>(std::move(handler)) : nullptr;
    std::lock_guard guard(factsLock_);
    onEvent_ = std::move(shared);
}

void TeskServer::report(const ServerEvent& event) const {
    std::shared_ptr<const EventHandler> handler;
    {
        std::lock_guard guard(factsLock_);
        handler = onEvent_;
    }
    if (handler) {
        (*handler)(event);
    }
}
