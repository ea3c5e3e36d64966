// tesk-relay: serves the relay over plain HTTP until SIGTERM or SIGINT. TLS belongs to a reverse proxy.
#include "relay/relay_server.h"
#include "relay/relay_state_file.h"

#include <charconv>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view usage = "usage: tesk-relay --port N --data FILE\n"
                                   "  --port N     the TCP port on every address; 0 picks a free one\n"
                                   "  --data FILE  the JSON file holding the relay's whole state\n";

struct Options {
    std::uint16_t port = 0;
    fs::path data;
};

std::optional<Options> parseOptions(int argc, char** argv) {
    std::optional<std::uint16_t> port;
    std::optional<fs::path> data;
    for (int index = 1; index < argc; index += 2) {
        const std::string_view name = argv[index];
        if (index + 1 >= argc) {
            return std::nullopt; // every option takes a value
        }
        const std::string_view value = argv[index + 1];
        if (name == "--port") {
            std::uint16_t parsed = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
            if (error != std::errc() || end != value.data() + value.size()) {
                return std::nullopt;
            }
            port = parsed;
        } else if (name == "--data" && !value.empty()) {
            data = fs::path(value);
        } else {
            return std::nullopt;
        }
    }
    if (!port || !data) {
        return std::nullopt;
    }
    return Options{*port, *data};
}

} // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options) {
        std::cerr << usage;
        return 2;
    }
    // Blocked before any thread starts, so every thread inherits the mask and only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    RelayState state;
    try {
        const bool existed = fs::exists(fs::symlink_status(options->data));
        state = RelayStateFile::load(options->data);
        if (!existed) {
            // Writing the empty state now finds an unwritable place before any Mac signs up.
            RelayStateFile::save(options->data, state);
        }
    } catch (const RelayStateError& error) {
        std::cerr
            << "tesk-relay: " << error.what() << "\n"
            << "tesk-relay: not starting; the file was left as it is. Repair or move it, then start again.\n";
        return 1;
    } catch (const fs::filesystem_error& error) {
        std::cerr << "tesk-relay: cannot write " << options->data.string() << ": " << error.code().message()
                  << "\n";
        return 1;
    }

    RelayServer server(std::move(state), options->data);
    try {
        const std::uint16_t port = server.start(options->port);
        std::cout << "tesk-relay listening on port " << port << std::endl;
    } catch (const std::system_error& error) {
        std::cerr << "tesk-relay: " << error.what() << "\n";
        return 1;
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    return 0;
}
