#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

/// A blocking TCP client on 127.0.0.1 for talking to a server byte by byte.
class RawClient {
public:
    /// Connects; throws std::system_error on failure.
    explicit RawClient(std::uint16_t port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void send(std::string_view bytes);
    /// Closes the sending side: the server sees the end of the request.
    void shutdownSend();
    /// Everything until the server closes, or until `timeout` passes.
    std::string readAll(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    /// Reads and drops everything until the server closes or `timeout` passes; the number of bytes.
    std::size_t drain(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    /// Reads until `bytes` have arrived (or the server closes, or `timeout` passes).
    std::string readExactly(std::size_t bytes, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    /// Whether the server closed the connection within `timeout` (reading and dropping what arrives).
    bool closedWithin(std::chrono::milliseconds timeout);
    /// Closes now.
    void close();

private:
    /// Bytes read (> 0), 0 when the server closed, -1 when `until` passed first.
    ssize_t receive(char* buffer, std::size_t size, std::chrono::steady_clock::time_point until);

    int fd_ = -1;
};

/// One request on its own connection; the whole response.
std::string request(std::uint16_t port, std::string_view bytes);
