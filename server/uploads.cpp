// Request bodies: files streamed to disk, small bodies read into memory.
#include "core/library_error.h"
#include "core/names.h"
#include "core/text.h"
#include "server/request_handler.h"
#include "server/tesk_server.h"

#include <asio/post.hpp>
#include <asio/write.hpp>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maxReadBytes = 1 << 20;
constexpr std::size_t maxSmallBody = 65536;
constexpr std::size_t maxSenderCharacters = 40;

const std::string continueResponse = "HTTP/1.1 100 Continue\r\n\r\n";
const HTTP::Headers jsonHeaders{{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}};

std::optional<std::string> header(const HTTPRequest& request, const std::string& name) {
    const auto found = request.headers.find(name);
    return found == request.headers.end() ? std::nullopt : std::optional(found->second);
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

} // namespace

/// One streamed upload: its directory, its open file, how far it got and the disk space it was promised.
struct RequestHandler::Upload {
    explicit Upload(UploadSpace::Claim claim)
        : space(std::move(claim)) {}

    UploadSpace::Claim space;
    fs::path directory;
    UniqueFd file;
    std::int64_t received = 0;
    std::int64_t length = 0;
    /// The disk refused a write (full, or failing): the phone is told, unlike when it hangs up.
    bool writeFailed = false;

    fs::path path() const { return directory / "upload.part"; }
    /// Writes body bytes to the file; they then count as used disk space rather than promised.
    bool write(const char* data, std::size_t size) {
        if (!writeAll(file.get(), data, size)) {
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

void RequestHandler::receiveUpload(const HTTPRequest& request, std::string initialBody, const Share& share,
                                   const Library& library) {
    if (!share.allowsUploads) {
        respondText(403, "This link doesn't accept files");
        return;
    }
    std::optional<std::string> destination;
    if (const auto found = request.query.find("folder");
        found != request.query.end() && !found->second.empty()) {
        destination = found->second;
    }
    bool allowed = true;
    switch (share.target.kind()) {
    case ShareTarget::Kind::folder:
        allowed = (!destination || library.folder(destination)) &&
                  library.folderIsInside(destination, share.target.id());
        break;
    case ShareTarget::Kind::bundle: {
        const auto bundle = library.bundle(*share.target.id());
        allowed = bundle && (!destination || library.folderIsInBundle(destination, *bundle));
        break;
    }
    case ShareTarget::Kind::item:
    case ShareTarget::Kind::inbox:
        break;
    }
    if (!allowed) {
        respondText(403, "Not allowed");
        return;
    }
    std::string name = "file";
    if (const auto raw = header(request, "x-tesk-name")) {
        name = HTTP::percentDecoded(*raw).value_or("file");
    }
    const std::string sender =
        Text::prefixCharacters(header(request, "x-tesk-device").value_or("a browser"), maxSenderCharacters);
    streamUpload(request, std::move(initialBody),
                 [this, name, share, destination, sender](const fs::path& file) {
                     Item item = server_.store().receiveUpload(file, name, share, destination, sender);
                     return std::pair{std::move(item), sender};
                 });
}

void RequestHandler::streamUpload(const HTTPRequest& request, std::string initialBody, FinishUpload finish) {
    const auto length = request.contentLength();
    if (!length || *length <= 0) {
        respondText(400, "Missing Content-Length");
        return;
    }
    // Uploads already in flight have their bytes promised: the disk must hold them all at once.
    auto claim =
        server_.uploadSpace().claim(server_.uploadsDir().parent_path(), static_cast<std::uint64_t>(*length),
                                    server_.limits().uploadReserve);
    if (!claim) {
        respondText(413, "Couldn't save the file");
        return;
    }
    auto upload = std::make_shared<Upload>(std::move(*claim));
    upload->directory = server_.uploadsDir() / Names::newID();
    upload->length = *length;
    std::error_code error;
    fs::create_directories(upload->directory, error);
    if (!error) {
        upload->file.reset(::open(upload->path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    }
    if (error || !upload->file) {
        upload->cleanUp();
        respondText(500, "Couldn't save the file");
        return;
    }
    // The interim answer must be on the wire before anything else is written, so the body is read only
    // after it went out. A client that already sent body bytes did not wait for it: none is needed then.
    if (const auto expect = header(request, "expect");
        expect && Text::lowercased(*expect) == "100-continue" && initialBody.empty()) {
        sendHead(continueResponse,
                 [self = shared_from_this(), upload, finish = std::move(finish)](bool sent) mutable {
                     if (!sent) {
                         upload->cleanUp();
                         self->close();
                         return;
                     }
                     self->receiveBody(upload, "", std::move(finish));
                 });
        return;
    }
    receiveBody(upload, std::move(initialBody), std::move(finish));
}

void RequestHandler::receiveBody(std::shared_ptr<Upload> upload, std::string initialBody,
                                 FinishUpload finish) {
    const std::size_t first =
        std::min<std::size_t>(initialBody.size(), static_cast<std::size_t>(upload->length));
    if (!upload->write(initialBody.data(), first)) {
        upload->cleanUp();
        respondText(500, "Couldn't save the file");
        return;
    }
    upload->received = static_cast<std::int64_t>(first);

    auto done = [self = shared_from_this(), upload, finish = std::move(finish)](bool success) {
        // Closing, syncing and filing a large file can hold the disk for seconds, which on a connection
        // thread would stall every other phone. A disk thread settles the upload; the strand answers.
        // The phone is not idle meanwhile, the disk is: no deadline runs until the answer. Moved, not just
        // cancelled, so a wait that had already fired sees a deadline still to come.
        self->deadline_.expires_at(asio::steady_timer::time_point::max());
        self->server_.runOnDisk([self, upload, finish, success, strand = self->socket_.get_executor()] {
            int status = 0; // nothing to answer: the phone left
            std::optional<ServerEvent> received;
            if (upload->file.close() != 0) {
                upload->writeFailed = true; // a write the disk could not complete shows up here
            }
            if (!success || upload->writeFailed) {
                status = upload->writeFailed ? 500 : 0;
            } else {
                try {
                    auto [item, sender] = finish(upload->path());
                    received = ServerEvent{ServerEvent::Received{std::move(item), std::move(sender)}};
                    status = 201;
                } catch (const LibraryError& error) {
                    status = error.code() == LibraryError::notFound ? 404 : 500;
                } catch (const std::exception&) {
                    status = 500;
                }
            }
            upload->cleanUp();
            asio::post(strand, [self, status, received = std::move(received)] {
                if (received) {
                    self->server_.report(*received);
                }
                if (status == 201) {
                    self->respond(201, jsonHeaders, R"({"ok":true})");
                } else if (status != 0) {
                    self->respondText(status, "Couldn't save the file");
                } else {
                    self->close();
                }
            });
        });
    };
    if (upload->received >= upload->length) {
        done(true);
        return;
    }
    armDeadline(server_.limits().transferIdle);
    readBody(upload, std::move(done));
}

void RequestHandler::readBody(std::shared_ptr<Upload> upload, std::function<void(bool)> done) {
    bodyBuffer_.resize(maxReadBytes);
    const auto wanted =
        std::min<std::size_t>(static_cast<std::size_t>(upload->length - upload->received), maxReadBytes);
    socket_.async_read_some(asio::buffer(bodyBuffer_.data(), wanted),
                            [self = shared_from_this(), upload,
                             done = std::move(done)](std::error_code error, std::size_t bytes) mutable {
                                if (self->closed_) {
                                    done(false);
                                    return;
                                }
                                if (bytes > 0) {
                                    if (!upload->write(self->bodyBuffer_.data(), bytes)) {
                                        upload->writeFailed = true;
                                        self->bodyBuffer_ = {};
                                        done(false);
                                        return;
                                    }
                                    upload->received += static_cast<std::int64_t>(bytes);
                                    self->armDeadline(self->server_.limits().transferIdle);
                                }
                                if (upload->received >= upload->length) {
                                    self->bodyBuffer_ = {};
                                    done(true);
                                } else if (error) {
                                    done(false);
                                } else {
                                    self->readBody(upload, std::move(done));
                                }
                            });
}

void RequestHandler::readSmallBody(const HTTPRequest& request, std::string initial,
                                   std::function<void(std::optional<std::string>)> done) {
    const auto length = request.contentLength();
    if (!length || *length < 1 || *length > static_cast<std::int64_t>(maxSmallBody)) {
        done(std::nullopt);
        return;
    }
    auto buffer = std::make_shared<std::string>(std::move(initial));
    if (buffer->size() > static_cast<std::size_t>(*length)) {
        buffer->resize(static_cast<std::size_t>(*length));
    }
    if (buffer->size() == static_cast<std::size_t>(*length)) {
        done(std::move(*buffer));
        return;
    }
    armDeadline(server_.limits().transferIdle);
    readSmallRest(buffer, static_cast<std::size_t>(*length), std::move(done));
}

void RequestHandler::readSmallRest(std::shared_ptr<std::string> buffer, std::size_t length,
                                   std::function<void(std::optional<std::string>)> done) {
    socket_.async_read_some(
        asio::buffer(readBuffer_.data(), std::min(readBuffer_.size(), length - buffer->size())),
        [self = shared_from_this(), buffer, length, done = std::move(done)](std::error_code error,
                                                                            std::size_t bytes) mutable {
            if (self->closed_) {
                return;
            }
            buffer->append(self->readBuffer_.data(), bytes);
            if (buffer->size() == length) {
                done(std::move(*buffer));
            } else if (error) {
                done(std::nullopt);
            } else {
                self->readSmallRest(buffer, length, std::move(done));
            }
        });
}
