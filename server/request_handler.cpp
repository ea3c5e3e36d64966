#include "server/request_handler.h"

#include "server/tesk_server.h"

#include <asio/dispatch.hpp>
#include <asio/write.hpp>

RequestHandler::RequestHandler(asio::ip::tcp::socket socket, TeskServer& server)
    : socket_(std::move(socket))
    , deadline_(socket_.get_executor())
    , server_(server)
    , acceptedAt_(Clock::now()) {
    std::error_code error;
    const auto endpoint = socket_.remote_endpoint(error);
    if (error) {
        peer_ = "unknown";
    } else {
        const auto address = endpoint.address();
        // A dual-stack listener sees IPv4 peers as ::ffff:a.b.c.d; phones know them as a.b.c.d.
        if (address.is_v6() && address.to_v6().is_v4_mapped()) {
            peer_ = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
        } else {
            peer_ = address.to_string();
        }
    }
}

void RequestHandler::start() {
    asio::dispatch(socket_.get_executor(), [self = shared_from_this()] {
        self->armDeadline(self->server_.limits().headDeadline);
        self->readHead();
    });
}

void RequestHandler::closeSoon() {
    asio::dispatch(socket_.get_executor(), [self = shared_from_this()] { self->close(); });
}

void RequestHandler::readHead() {
    socket_.async_read_some(asio::buffer(readBuffer_),
                            [self = shared_from_this()](std::error_code error, std::size_t bytes) {
                                self->onRead(error, bytes);
                            });
}

void RequestHandler::onRead(const std::error_code& error, std::size_t bytes) {
    if (closed_) {
        return;
    }
    buffer_.append(readBuffer_.data(), bytes);
    const HTTPParseResult result = HTTP::parse(buffer_);
    if (result.isInvalid()) {
        hasHead_ = true;
        respondText(400, "Bad request");
        return;
    }
    if (const auto* complete = result.request()) {
        hasHead_ = true;
        deadline_.cancel();
        std::string body = buffer_.substr(complete->headerLength);
        buffer_.clear();
        buffer_.shrink_to_fit();
        if (const auto router = server_.router()) {
            (*router)(*this, complete->request, std::move(body));
        } else {
            route(complete->request, std::move(body));
        }
        return;
    }
    if (error) {
        close(); // the peer ended its side, or the connection failed, before a whole head arrived
        return;
    }
    readHead();
}

void RequestHandler::armDeadline(std::chrono::milliseconds after) {
    deadline_.expires_after(after);
    deadline_.async_wait([self = shared_from_this()](std::error_code error) {
        // A wait that had already fired when the deadline was moved still completes without an error:
        // only a deadline that has really passed ends the connection.
        if (!error && self->deadline_.expiry() <= Clock::now()) {
            self->close();
        }
    });
}

void RequestHandler::respond(int status, HTTP::Headers headers, std::string body) {
    if (closed_) {
        return;
    }
    headers.emplace_back("Content-Length", std::to_string(body.size()));
    outgoing_ = HTTP::head(status, headers);
    outgoing_ += body;
    armDeadline(server_.limits().transferIdle);
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

void RequestHandler::respondText(int status, std::string_view text) {
    respond(status, {{"Content-Type", "text/plain; charset=utf-8"}}, std::string(text));
}

void RequestHandler::respondHTML(int status, std::string_view html) {
    respond(status, {{"Content-Type", "text/html; charset=utf-8"}, {"Cache-Control", "no-store"}},
            std::string(html));
}

void RequestHandler::linger() {
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
    armDeadline(server_.limits().lingerAfterResponse);
    drain();
}

void RequestHandler::drain() {
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

void RequestHandler::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    deadline_.cancel();
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    finish();
}

void RequestHandler::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (auto onClose = std::move(onClose_)) {
        onClose_ = nullptr;
        onClose();
    }
}
