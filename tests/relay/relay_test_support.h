#pragma once

#include "core/http.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

/// A response as a client saw it.
struct Reply {
    int status = 0;
    /// Values by lower-cased name.
    std::map<std::string, std::string> headers;
    std::string body;

    /// A header's value by lower-cased name; empty when absent.
    std::string header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

/// Splits raw response bytes; status 0 when nothing (or no whole head) arrived.
Reply parseReply(std::string_view raw);

/// One request over its own connection to 127.0.0.1:`port`; "Content-Length" is added for a body.
Reply exchange(std::uint16_t port, std::string_view method, std::string_view target,
               std::string_view body = "", const HTTP::Headers& headers = {});

/// A request head as a client would send it, parsed with the relay's own codec.
HTTPRequest parsedRequest(std::string_view method, std::string_view target,
                          const HTTP::Headers& headers = {});

/// A running tesk-relay, its standard output and error captured; killed if still running at the end.
class RelayProcess {
public:
    RelayProcess(const std::filesystem::path& data, std::uint16_t port = 0);
    /// Any arguments, for the command-line checks.
    explicit RelayProcess(std::vector<std::string> arguments);
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    /// The port from the first line ("tesk-relay listening on port N"); 0 when no such line came.
    std::uint16_t port();
    void signal(int number);
    /// The exit status, or -1 when it did not exit normally within `timeout`.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    /// What it wrote to standard error; call after it exited.
    std::string standardError();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool exited_ = false;
    std::uint16_t port_ = 0;
};
