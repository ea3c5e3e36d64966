#include "relay/relay_connection.h"

#include "relay/relay_server.h"

#include <asio/write.hpp>

RelayConnection::RelayConnection(asio::ip::tcp::socket socket, RelayServer& server)
    : socket_(std::move(socket))
    , deadline_(socket_.get_executor())
    , server_(server) {}

RelayConnection::~RelayConnection() {
    server_.connectionClosed();
}

void RelayConnection::start() {
    armDeadline(server_.limits().headDeadline);
    readHead();
}

void RelayConnection::readHead() {
    socket_.async_read_some(asio::buffer(readBuffer_),
                            [self = shared_from_this()](std::error_code error, std::size_t bytes) {
                                self->onHead(error, bytes);
                            });
}

void RelayConnection::onHead(const std::error_code& error, std::size_t bytes) {
    if (closed_) {
        return;
    }
    buffer_.append(readBuffer_.data(), bytes);
    const HTTPParseResult result = HTTP::parse(buffer_);
    if (result.isInvalid()) {
        respond({400, {{"Content-Type", "text/plain; charset=utf-8"}}, "Bad request"});
        return;
    }
    const auto* complete = result.request();
    if (!complete) {
        if (error) {
            close(); // the client gave up, or the connection failed, before a whole head arrived
        } else {
            readHead();
        }
        return;
    }
    request_ = complete->request;
    buffer_.erase(0, complete->headerLength);
    const auto& headers = request_->headers;
    const auto length = request_->contentLength();
    // Every relay request is small and sent whole; chunked bodies are not worth their parser here.
    if (headers.contains("transfer-encoding")) {
        unreadBody_ = true;
        respond({411, {{"Content-Type", "text/plain; charset=utf-8"}}, "Length required"});
        return;
    }
    if (headers.contains("content-length") && (!length || *length < 0)) {
        unreadBody_ = true;
        respond({400, {{"Content-Type", "text/plain; charset=utf-8"}}, "Bad request"});
        return;
    }
    const auto announced = static_cast<std::uint64_t>(length.value_or(0));
    if (announced > server_.limits().maxBodyBytes) {
        unreadBody_ = true;
        respond({413, {{"Content-Type", "text/plain; charset=utf-8"}}, "Too large"});
        return;
    }
    bodyLength_ = static_cast<std::size_t>(announced);
    armDeadline(server_.limits().bodyDeadline);
    readBody();
}

void RelayConnection::readBody() {
    if (buffer_.size() >= bodyLength_) {
        buffer_.resize(bodyLength_);
        respond(server_.handle(*request_, buffer_));
        return;
    }
    socket_.async_read_some(asio::buffer(readBuffer_),
                            [self = shared_from_this()](std::error_code error, std::size_t bytes) {
                                if (self->closed_) {
                                    return;
                                }
                                self->buffer_.append(self->readBuffer_.data(), bytes);
                                if (error && self->buffer_.size() < self->bodyLength_) {
                                    self->close(); // cut short: nothing to answer
                                    return;
                                }
                                self->readBody();
                            });
}

void RelayConnection::respond(const RelayResponse& response) {
    if (closed_) {
        return;
    }
    outgoing_ = response.serialized();
    armDeadline(server_.limits().writeDeadline);
    asio::async_write(socket_, asio::buffer(outgoing_),
                      [self = shared_from_this()](std::error_code error, std::size_t) {
                          std::error_code availableError;
                          if (!error && (self->unreadBody_ || self->socket_.available(availableError) > 0)) {
                              self->linger();
                          } else {
                              self->close();
                          }
                      });
}

void RelayConnection::linger() {
    if (closed_) {
        return;
    }
    // Closing with unread bytes makes the kernel send a reset, which can destroy the answer before the
    // client reads it. Say we are done, then drain until the client closes too, or the deadline passes.
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    armDeadline(server_.limits().linger);
    drain();
}

void RelayConnection::drain() {
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

void RelayConnection::armDeadline(std::chrono::milliseconds after) {
    deadline_.expires_after(after);
    deadline_.async_wait([self = shared_from_this()](std::error_code error) {
        if (!error) {
            self->close();
        }
    });
}

void RelayConnection::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    deadline_.cancel();
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}
