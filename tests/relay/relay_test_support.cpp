#include "relay_test_support.h"

#include "support/raw_client.h"

#include <gtest/gtest.h>

namespace {

std::string head(std::string_view method, std::string_view target, const HTTP::Headers& headers) {
    std::string bytes = std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: relay.test\r\n";
    for (const auto& [name, value] : headers) {
        bytes += name + ": " + value + "\r\n";
    }
    return bytes;
}

} // namespace

HttpReply exchange(std::uint16_t port, std::string_view method, std::string_view target,
                   std::string_view body, const HTTP::Headers& headers) {
    return parseHttpReply(request(port, head(method, target, headers) + "Content-Length: " +
                                            std::to_string(body.size()) + "\r\n\r\n" + std::string(body)));
}

HTTPRequest parsedRequest(std::string_view method, std::string_view target, const HTTP::Headers& headers) {
    const std::string bytes = head(method, target, headers) + "\r\n";
    const auto parsed = HTTP::parse(bytes);
    EXPECT_TRUE(parsed.request()) << "not a request head: " << bytes;
    return parsed.request() ? parsed.request()->request : HTTPRequest{};
}

RelayProcess::RelayProcess(const std::filesystem::path& data, std::uint16_t port)
    : RelayProcess(std::vector<std::string>{"--port", std::to_string(port), "--data", data.string()}) {}

RelayProcess::RelayProcess(std::vector<std::string> arguments)
    : ChildProcess([&] {
        arguments.insert(arguments.begin(), TESK_RELAY_EXECUTABLE);
        return std::move(arguments);
    }()) {}

std::uint16_t RelayProcess::port() {
    constexpr std::string_view prefix = "tesk-relay listening on port ";
    if (const auto line = port_ == 0 ? readLine(std::chrono::seconds(5)) : std::nullopt;
        line && line->starts_with(prefix)) {
        port_ = static_cast<std::uint16_t>(std::stoi(line->substr(prefix.size())));
    }
    return port_;
}
