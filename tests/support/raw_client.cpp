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

ssize_t RawClient::receive(char* buffer, std::size_t size, std::chrono::steady_clock::time_point until) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        return -1;
    }
    const ssize_t got = ::recv(fd_, buffer, size, 0);
    return got < 0 ? 0 : got; // a failed read ends the conversation like a close
}

std::string RawClient::readAll(std::chrono::milliseconds timeout) {
    return readExactly(std::string::npos, timeout);
}

std::size_t RawClient::drain(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    std::vector<char> buffer(1 << 20);
    std::size_t total = 0;
    for (ssize_t got; (got = receive(buffer.data(), buffer.size(), until)) > 0;) {
        total += static_cast<std::size_t>(got);
    }
    return total;
}

std::string RawClient::readExactly(std::size_t bytes, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    std::string result;
    while (result.size() < bytes) {
        const ssize_t got = receive(buffer, std::min(sizeof buffer, bytes - result.size()), until);
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
    ssize_t got;
    while ((got = receive(buffer, sizeof buffer, until)) > 0) {
    }
    return got == 0;
}

std::string request(std::uint16_t port, std::string_view bytes) {
    RawClient client(port);
    client.send(bytes);
    return client.readAll();
}
