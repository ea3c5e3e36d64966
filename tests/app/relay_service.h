#pragma once

#include "core/http.h"
#include "support/child_process.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <string_view>

/// tesk-relay on a free loopback port, stopped with the object.
class RelayService {
public:
    explicit RelayService(const std::filesystem::path& data)
        : process_({TESK_RELAY_EXECUTABLE, "--port", "0", "--data", data.string()}) {
        constexpr std::string_view listening = "tesk-relay listening on port ";
        if (const auto line = process_.readLine(std::chrono::seconds(5));
            line && line->starts_with(listening)) {
            base_ =
                HTTP::url("127.0.0.1", static_cast<std::uint16_t>(std::stoi(line->substr(listening.size()))));
        }
    }
    ~RelayService() {
        process_.signal(SIGTERM);
        process_.wait(std::chrono::seconds(5));
    }
    RelayService(const RelayService&) = delete;
    RelayService& operator=(const RelayService&) = delete;

    /// "http://127.0.0.1:<port>"; empty when the relay did not start.
    const std::string& base() const { return base_; }

private:
    ChildProcess process_;
    std::string base_;
};
