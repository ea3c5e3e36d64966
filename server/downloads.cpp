// Downloads: one item of a share, streamed from disk with byte ranges.
#include "server/request_handler.h"
#include "server/tesk_server.h"

#include <asio/write.hpp>

#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::int64_t chunkBytes = 262144;

} // namespace

void RequestHandler::sendHead(std::string head, std::function<void(bool)> then) {
    outgoing_ = std::move(head);
    armDeadline(server_.limits().transferIdle);
    asio::async_write(
        socket_, asio::buffer(outgoing_),
        [self = shared_from_this(), then = std::move(then)](std::error_code error, std::size_t) {
            self->outgoing_.clear();
            then(!error && !self->closed_);
        });
}

void RequestHandler::sendItem(const Item& item, const HTTPRequest& request, const Share& share) {
    if (item.kind != ItemKind::file) {
        respond(200,
                {{"Content-Type", "text/plain; charset=utf-8"},
                 {"Content-Disposition", HTTP::contentDisposition(item.name + ".txt", false)}},
                item.content.value_or(""));
        return;
    }
    auto file =
        std::make_shared<UniqueFd>(::open(server_.store().fileURL(item).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!*file || ::fstat(file->get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        respondText(404, "This file is no longer on the Mac.");
        return;
    }
    const std::int64_t size = info.st_size;
    const bool isInline = request.query.contains("inline");
    HTTP::Headers headers{{"Content-Type", std::string(HTTP::mimeType(item.name))},
                          {"Content-Disposition", HTTP::contentDisposition(item.name, isInline)},
                          {"Accept-Ranges", "bytes"},
                          {"Cache-Control", isInline ? "private, max-age=3600" : "no-store"}};
    std::optional<std::string> rangeHeader;
    if (const auto found = request.headers.find("range"); found != request.headers.end()) {
        rangeHeader = found->second;
    }
    const ByteRangeResult range = HTTP::range(rangeHeader, size);
    std::int64_t start = 0;
    std::int64_t last = size - 1;
    int status = 200;
    if (std::holds_alternative<ByteRangeResult::Unsatisfiable>(range.value)) {
        respond(416, {{"Content-Range", "bytes */" + std::to_string(size)}}, "");
        return;
    }
    if (const auto* partial = std::get_if<ByteRangeResult::Partial>(&range.value)) {
        start = partial->start;
        last = partial->end;
        status = 206;
        headers.emplace_back("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(last) +
                                                  "/" + std::to_string(size));
    }
    const std::int64_t count = std::max<std::int64_t>(last - start + 1, 0);
    headers.emplace_back("Content-Length", std::to_string(count));
    // Only a whole attachment counts: thumbnails and resumed downloads are not new downloads.
    const bool counts = !isInline && start == 0 && request.method == "GET";

    auto finish = [self = shared_from_this(), file, counts, item, token = share.token](bool success) {
        file->reset();
        if (success && counts) {
            self->server_.store().recordDownload(token);
            self->server_.emit(ServerEvent{ServerEvent::Downloaded{item, self->peer_}});
        }
        self->close();
    };
    sendHead(HTTP::head(status, headers),
             [self = shared_from_this(), file, start, count, finish](bool sent) mutable {
                 if (!sent || ::lseek(file->get(), start, SEEK_SET) != start) {
                     file->reset();
                     self->close();
                     return;
                 }
                 if (count < 1) {
                     finish(true);
                     return;
                 }
                 self->pump(file, count, std::move(finish));
             });
}

void RequestHandler::pump(std::shared_ptr<UniqueFd> file, std::int64_t remaining,
                          std::function<void(bool)> done) {
    if (remaining < 1) {
        done(true);
        return;
    }
    if (closed_) {
        done(false);
        return;
    }
    // The kernel copies straight from the page cache into the socket. On a non-blocking socket it takes
    // what fits; the rest waits until the socket is writable again, so a slow phone slows the reading.
    std::error_code ignored;
    socket_.native_non_blocking(true, ignored);
    const auto wanted = static_cast<std::size_t>(std::min(remaining, chunkBytes));
    const ssize_t sent = ::sendfile(socket_.native_handle(), file->get(), nullptr, wanted);
    if (sent > 0) {
        armDeadline(server_.limits().transferIdle);
        remaining -= sent;
        if (remaining < 1) {
            done(true);
            return;
        }
    } else if (sent == 0) {
        done(false); // the file became shorter than it was
        return;
    } else if (errno == EINVAL || errno == ENOSYS) {
        // A file system without sendfile support: read and write one chunk at a time instead.
        auto chunk = std::make_shared<std::string>(wanted, '\0');
        const ssize_t got = ::read(file->get(), chunk->data(), wanted);
        if (got <= 0) {
            done(false);
            return;
        }
        chunk->resize(static_cast<std::size_t>(got));
        asio::async_write(socket_, asio::buffer(*chunk),
                          [self = shared_from_this(), file, chunk, remaining,
                           done = std::move(done)](std::error_code error, std::size_t written) mutable {
                              if (error || self->closed_) {
                                  done(false);
                                  return;
                              }
                              self->armDeadline(self->server_.limits().transferIdle);
                              self->pump(file, remaining - static_cast<std::int64_t>(written),
                                         std::move(done));
                          });
        return;
    } else if (errno != EAGAIN && errno != EINTR) {
        done(false);
        return;
    }
    socket_.async_wait(
        asio::ip::tcp::socket::wait_write,
        [self = shared_from_this(), file, remaining, done = std::move(done)](std::error_code error) mutable {
            if (error || self->closed_) {
                done(false);
                return;
            }
            self->pump(file, remaining, std::move(done));
        });
}
