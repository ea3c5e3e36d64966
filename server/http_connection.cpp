#include "server/http_connection.h"

#include <asio/dispatch.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include <cerrno>
#include <sys/sendfile.h>
#include <unistd.h>

namespace {

/// One step of a file download.
constexpr std::int64_t chunkBytes = 262144;
/// One read of a streamed body.
constexpr std::size_t maxBodyRead = 1 << 20;

std::string peerOf(const asio::ip::tcp::socket& socket) {
    std::error_code error;
    const auto endpoint = socket.remote_endpoint(error);
    if (error) {
        return "unknown";
    }
    const auto address = endpoint.address();
    // A dual-stack listener sees IPv4 peers as ::ffff:a.b.c.d; phones know them as a.b.c.d.
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
}

} // namespace

HttpConnection::HttpConnection(asio::ip::tcp::socket socket, ConnectionLimits limits, OnRequest onRequest)
    : socket_(std::move(socket))
    , deadline_(socket_.get_executor())
    , limits_(limits)
    , onRequest_(std::move(onRequest))
    , peer_(peerOf(socket_))
    , acceptedAt_(Clock::now()) {}

void HttpConnection::start() {
    asio::dispatch(socket_.get_executor(), [self = shared_from_this()] {
        self->armDeadline(self->limits_.head);
        self->readHead();
    });
}

void HttpConnection::closeSoon() {
    asio::dispatch(socket_.get_executor(), [self = shared_from_this()] { self->close(); });
}

void HttpConnection::readHead() {
    socket_.async_read_some(asio::buffer(readBuffer_),
                            [self = shared_from_this()](std::error_code error, std::size_t bytes) {
                                self->onRead(error, bytes);
                            });
}

void HttpConnection::onRead(const std::error_code& error, std::size_t bytes) {
    if (closed_) {
        return;
    }
    buffer_.append(readBuffer_.data(), bytes);
    const HTTPParseResult result = HTTP::parse(buffer_);
    if (result.isInvalid()) {
        hasHead_ = true;
        respond(HTTPResponse::text(400, "Bad request"));
        return;
    }
    if (const auto* complete = result.request()) {
        hasHead_ = true;
        deadline_.cancel();
        std::string body = buffer_.substr(complete->headerLength);
        buffer_.clear();
        buffer_.shrink_to_fit();
        onRequest_(*this, complete->request, std::move(body));
        return;
    }
    if (error) {
        close(); // the peer ended its side, or the connection failed, before a whole head arrived
        return;
    }
    readHead();
}

void HttpConnection::armDeadline(std::chrono::milliseconds after) {
    deadline_.expires_after(after);
    deadline_.async_wait([self = shared_from_this()](std::error_code error) {
        // A wait that had already fired when the deadline was moved still completes without an error:
        // only a deadline that has really passed ends the connection.
        if (!error && self->deadline_.expiry() <= Clock::now()) {
            self->close();
        }
    });
}

void HttpConnection::respond(const HTTPResponse& response) {
    if (closed_) {
        return;
    }
    outgoing_ = response.serialized();
    armDeadline(limits_.write);
    asio::async_write(socket_, asio::buffer(outgoing_),
                      [self = shared_from_this()](std::error_code error, std::size_t) {
                          self->outgoing_.clear();
                          self->outgoing_.shrink_to_fit();
                          if (error) {
                              self->close();
                          } else {
                              self->linger();
                          }
                      });
}

void HttpConnection::sendInterim(std::string bytes, std::function<void(bool)> then) {
    if (closed_) {
        then(false);
        return;
    }
    outgoing_ = std::move(bytes);
    armDeadline(limits_.idle);
    asio::async_write(
        socket_, asio::buffer(outgoing_),
        [self = shared_from_this(), then = std::move(then)](std::error_code error, std::size_t) {
            self->outgoing_.clear();
            then(!error && !self->closed_);
        });
}

void HttpConnection::sendFile(std::string head, UniqueFd file, std::int64_t start, std::int64_t count,
                              std::function<void(bool)> done) {
    auto shared = std::make_shared<UniqueFd>(std::move(file));
    auto finish = [self = shared_from_this(), shared, done = std::move(done)](bool success) {
        shared->reset();
        done(success);
        if (success) {
            self->linger();
        } else {
            self->close();
        }
    };
    sendInterim(std::move(head), [self = shared_from_this(), shared, start, count,
                                  finish = std::move(finish)](bool sent) mutable {
        if (!sent || ::lseek(shared->get(), start, SEEK_SET) != start) {
            finish(false);
            return;
        }
        self->pump(shared, count, std::move(finish));
    });
}

void HttpConnection::pump(std::shared_ptr<UniqueFd> file, std::int64_t remaining,
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
        armDeadline(limits_.idle);
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

void HttpConnection::pumpByCopying(std::shared_ptr<UniqueFd> file, std::int64_t remaining,
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
                          self->armDeadline(self->limits_.idle);
                          const std::int64_t left = remaining - static_cast<std::int64_t>(written);
                          if (left < 1) {
                              done(true);
                              return;
                          }
                          self->pumpByCopying(file, left, std::move(done));
                      });
}

void HttpConnection::sendStream(std::string head, std::function<std::size_t(char*, std::size_t)> produce,
                                std::function<void(bool)> done) {
    auto finish = [self = shared_from_this(), done = std::move(done)](bool success) {
        done(success);
        if (success) {
            self->linger();
        } else {
            self->close();
        }
    };
    auto shared = std::make_shared<std::function<std::size_t(char*, std::size_t)>>(std::move(produce));
    sendInterim(
        std::move(head), [self = shared_from_this(), shared, finish = std::move(finish)](bool sent) mutable {
            if (!sent) {
                finish(false);
                return;
            }
            self->pumpStream(shared, std::make_shared<std::vector<char>>(chunkBytes), std::move(finish));
        });
}

void HttpConnection::pumpStream(std::shared_ptr<std::function<std::size_t(char*, std::size_t)>> produce,
                                std::shared_ptr<std::vector<char>> chunk, std::function<void(bool)> done) {
    std::size_t made = 0;
    try {
        made = (*produce)(chunk->data(), chunk->size());
    } catch (const std::exception&) {
        done(false);
        return;
    }
    if (made == 0) {
        done(true);
        return;
    }
    asio::async_write(socket_, asio::buffer(chunk->data(), made),
                      [self = shared_from_this(), produce, chunk,
                       done = std::move(done)](std::error_code error, std::size_t) mutable {
                          if (error || self->closed_) {
                              done(false);
                              return;
                          }
                          self->armDeadline(self->limits_.idle);
                          self->pumpStream(produce, chunk, std::move(done));
                      });
}

void HttpConnection::receiveBody(std::int64_t length, std::string initial,
                                 std::function<bool(const char*, std::size_t)> write,
                                 std::function<void(bool)> done) {
    // Whoever works on the body next answers, or closes: until then the peer is not idle, the server is.
    // Moved, not just cancelled, so a wait that had already fired sees a deadline still to come.
    auto settle = [self = shared_from_this(), done = std::move(done)](bool success) {
        self->bodyBuffer_ = {};
        self->deadline_.expires_at(asio::steady_timer::time_point::max());
        done(success);
    };
    const std::size_t first = std::min<std::size_t>(initial.size(), static_cast<std::size_t>(length));
    if (first > 0 && !write(initial.data(), first)) {
        settle(false);
        return;
    }
    if (static_cast<std::int64_t>(first) >= length) {
        settle(true);
        return;
    }
    armDeadline(limits_.idle);
    readBodyChunk(length - static_cast<std::int64_t>(first), std::move(write), std::move(settle));
}

void HttpConnection::readBodyChunk(std::int64_t remaining,
                                   std::function<bool(const char*, std::size_t)> write,
                                   std::function<void(bool)> done) {
    bodyBuffer_.resize(maxBodyRead);
    const auto wanted = std::min<std::size_t>(static_cast<std::size_t>(remaining), maxBodyRead);
    socket_.async_read_some(asio::buffer(bodyBuffer_.data(), wanted),
                            [self = shared_from_this(), remaining, write = std::move(write),
                             done = std::move(done)](std::error_code error, std::size_t bytes) mutable {
                                if (self->closed_) {
                                    done(false);
                                    return;
                                }
                                if (bytes > 0) {
                                    if (!write(self->bodyBuffer_.data(), bytes)) {
                                        done(false);
                                        return;
                                    }
                                    remaining -= static_cast<std::int64_t>(bytes);
                                    self->armDeadline(self->limits_.idle);
                                }
                                if (remaining < 1) {
                                    done(true);
                                } else if (error) {
                                    done(false);
                                } else {
                                    self->readBodyChunk(remaining, std::move(write), std::move(done));
                                }
                            });
}

void HttpConnection::readBody(std::size_t length, std::string initial,
                              std::function<void(std::optional<std::string>)> done) {
    auto buffer = std::make_shared<std::string>(std::move(initial));
    if (buffer->size() > length) {
        buffer->resize(length);
    }
    if (buffer->size() == length) {
        done(std::move(*buffer));
        return;
    }
    // Armed once: a body trickling in must not keep its connection forever.
    armDeadline(limits_.smallBody);
    readSmallRest(buffer, length, std::move(done));
}

void HttpConnection::readSmallRest(std::shared_ptr<std::string> buffer, std::size_t length,
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

void HttpConnection::linger() {
    if (closed_) {
        return;
    }
    // RFC 9112 section 9.6: closing a socket while the peer still sends (an unread body, or bytes that
    // arrive a moment after the response was written) makes the kernel answer with a reset, which throws
    // away what of the response is still in flight, a download's tail typically. So say we are done,
    // then drain until the peer closes too; a browser does so as soon as it has read the response.
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    // Armed once: a peer that keeps sending must not keep its connection forever.
    armDeadline(limits_.linger);
    drain();
}

void HttpConnection::drain() {
    socket_.async_read_some(asio::buffer(readBuffer_),
                            [self = shared_from_this()](std::error_code error, std::size_t) {
                                if (self->closed_) {
                                    return;
                                }
                                if (error) {
                                    self->close();
                                } else {
                                    self->drain();
                                }
                            });
}

void HttpConnection::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    deadline_.cancel();
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    if (auto onClose = std::move(onClose_)) {
        onClose_ = nullptr;
        onClose();
    }
}
