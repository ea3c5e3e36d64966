// Downloads: one item of a share, streamed from disk with byte ranges.
#include "server/request_handler.h"
#include "server/tesk_server.h"

#include <asio/post.hpp>
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
        respondText(404, "This file is no longer on the computer.");
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
            self->server_.report(ServerEvent{ServerEvent::Downloaded{item, self->peer_}});
        }
        if (success) {
            self->linger();
        } else {
            self->close();
        }
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
    // The kernel copies straight from the page cache into the socket, one step of at most 256 KiB at a
    // time; a step starts only once the previous one was taken. On the non-blocking socket a step takes
    // only what fits, and when nothing fits the pump waits for the socket to drain, so a slow phone
    // slows the reading down. A few steps per turn, then the strand lets other work run.
    std::error_code ignored;
    socket_.native_non_blocking(true, ignored);
    constexpr int stepsPerTurn = 16;
    bool progressed = false;
    bool full = false;
    for (int step = 0; step < stepsPerTurn && remaining > 0; ++step) {
        const auto wanted = static_cast<std::size_t>(std::min(remaining, chunkBytes));
        const ssize_t sent = ::sendfile(socket_.native_handle(), file->get(), nullptr, wanted);
        if (sent > 0) {
            remaining -= sent;
            progressed = true;
        } else if (sent == 0) {
            done(false); // the file became shorter than it was
            return;
        } else if (errno == EAGAIN) {
            full = true;
            break;
        } else if (errno == EINVAL || errno == ENOSYS) {
            pumpByCopying(std::move(file), remaining, std::move(done));
            return;
        } else if (errno != EINTR) {
            done(false);
            return;
        }
    }
    if (progressed) {
        armDeadline(server_.limits().transferIdle);
    }
    if (remaining < 1) {
        done(true);
        return;
    }
    auto next = [self = shared_from_this(), file, remaining,
                 done = std::move(done)](std::error_code error) mutable {
        if (error || self->closed_) {
            done(false);
            return;
        }
        self->pump(file, remaining, std::move(done));
    };
    if (full) {
        socket_.async_wait(asio::ip::tcp::socket::wait_write, std::move(next));
    } else {
        asio::post(socket_.get_executor(), [next = std::move(next)]() mutable { next({}); });
    }
}

void RequestHandler::pumpByCopying(std::shared_ptr<UniqueFd> file, std::int64_t remaining,
                                   std::function<void(bool)> done) {
    // For file systems without sendfile: read one step, write it, then the next.
    const auto wanted = static_cast<std::size_t>(std::min(remaining, chunkBytes));
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
                          const std::int64_t left = remaining - static_cast<std::int64_t>(written);
                          if (left < 1) {
                              done(true);
                              return;
                          }
                          self->pumpByCopying(file, left, std::move(done));
                      });
}
