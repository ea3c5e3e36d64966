#include "support/raw_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>
#include <vector>

RawClient::RawClient(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        throw std::system_error(error, std::generic_category(), "connect");
    }
}

RawClient::~RawClient() {
    close();
}

void RawClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void RawClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category(), "send");
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

void RawClient::shutdownSend() {
    ::shutdown(fd_, SHUT_WR);
}

std::string RawClient::readAll(std::chrono::milliseconds timeout) {
    std::string result;
    const auto until = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return result;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return result;
        }
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return result;
        }
        result.append(buffer, static_cast<std::size_t>(got));
    }
}

std::size_t RawClient::drain(std::chrono::milliseconds timeout) {
    std::size_t total = 0;
    const auto until = std::chrono::steady_clock::now() + timeout;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return total;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return total;
        }
        const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (got <= 0) {
            return total;
        }
        total += static_cast<std::size_t>(got);
    }
}

std::string RawClient::readExactly(std::size_t bytes, std::chrono::milliseconds timeout) {
    std::string result;
    const auto until = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    while (result.size() < bytes) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, bytes - result.size()), 0);
        if (got <= 0) {
            break;
        }
        result.append(buffer, static_cast<std::size_t>(got));
    }
    return result;
}

bool RawClient::closedWithin(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return true;
        }
    }
}

std::string request(std::uint16_t port, std::string_view bytes) {
    RawClient client(port);
    client.send(bytes);
    return client.readAll();
}
