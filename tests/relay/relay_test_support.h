#pragma once

#include "core/http.h"
#include "support/child_process.h"
#include "support/http_reply.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

/// One request over its own connection to 127.0.0.1:`port`; with its "Content-Length".
HttpReply exchange(std::uint16_t port, std::string_view method, std::string_view target,
                   std::string_view body = "", const HTTP::Headers& headers = {});

/// A request head as a client would send it, parsed with the relay's own codec.
HTTPRequest parsedRequest(std::string_view method, std::string_view target,
                          const HTTP::Headers& headers = {});

/// A running tesk-relay.
class RelayProcess : public ChildProcess {
public:
    RelayProcess(const std::filesystem::path& data, std::uint16_t port = 0);
    /// Any arguments, for the command-line checks.
    explicit RelayProcess(std::vector<std::string> arguments);

    /// The port from its first line ("tesk-relay listening on port N"); 0 when no such line came.
    std::uint16_t port();

private:
    std::uint16_t port_ = 0;
};
