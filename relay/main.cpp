// tesk-relay: serves the relay over plain HTTP until SIGTERM or SIGINT. TLS belongs to a reverse proxy.
#include "relay/relay_network.h"
#include "relay/relay_server.h"
#include "relay/store/relay_state_import.h"

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view usage =
    "usage: tesk-relay --port N [--store STORE] [--data FILE] [--signups-per-hour N] [--trusted-proxy "
    "ADDRESS]…\n"
    "                  [--contact ADDRESS] [--allow-private-push]\n"
    "  --port N               the TCP port on every address; 0 picks a free one\n"
    "  --store STORE          where the state is kept: sqlite:PATH (one file), or\n"
    "                         postgresql://USER@HOST:PORT/DATABASE, which several relays may share\n"
    "  --data FILE            a state file of an earlier tesk-relay: imported into the store once, then\n"
    "                         renamed; without --store the store is an SQLite file beside it\n"
    "  --signups-per-hour N   sign-ups one address may make per hour (default 20; 0: no bound)\n"
    "  --trusted-proxy ADDRESS  a reverse proxy in front (its IPv4 or IPv6 address, as the relay sees it):\n"
    "                         requests from it come from the address its X-Forwarded-For names. Repeatable\n"
    "  --contact ADDRESS      mailto:… or https://… where push services can reach whoever runs the relay;\n"
    "                         without it phones get no notifications\n"
    "  --allow-private-push   also push to services on loopback and private addresses (a test push "
    "service)\n";

struct Options {
    std::uint16_t port = 0;
    std::string store;
    std::optional<fs::path> data;
    std::size_t signUpsPerHour = RelayLimits{}.signUpsPerHour;
    std::vector<std::string> trustedProxies;
    RelayPushOptions push;
};

template <typename Number>
std::optional<Number> number(std::string_view text) {
    Number parsed{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return parsed;
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    std::optional<std::uint16_t> port;
    for (int index = 1; index < argc; index += 2) {
        const std::string_view name = argv[index];
        if (name == "--allow-private-push") {
            options.push.sender.allowPrivateAddresses = true;
            --index; // takes no value
            continue;
        }
        if (index + 1 >= argc) {
            return std::nullopt; // every option takes a value
        }
        const std::string_view value = argv[index + 1];
        if (name == "--port") {
            port = number<std::uint16_t>(value);
            if (!port) {
                return std::nullopt;
            }
        } else if (name == "--store" && !value.empty()) {
            options.store = value;
        } else if (name == "--data" && !value.empty()) {
            options.data = fs::path(value);
        } else if (name == "--trusted-proxy") {
            if (RelayNetwork::networkOf(value).empty()) {
                return std::nullopt;
            }
            options.trustedProxies.emplace_back(value);
        } else if (name == "--contact" && (value.starts_with("mailto:") || value.starts_with("https://")) &&
                   value.find_first_of(" \t\r\n\"") == std::string_view::npos) {
            options.push.contact = value;
        } else if (name == "--signups-per-hour") {
            const auto count = number<std::size_t>(value);
            if (!count) {
                return std::nullopt;
            }
            options.signUpsPerHour = *count;
        } else {
            return std::nullopt;
        }
    }
    if (!port || (options.store.empty() && !options.data)) {
        return std::nullopt;
    }
    options.port = *port;
    if (options.store.empty()) {
        options.store = "sqlite:" + fs::path(*options.data).replace_extension(".sqlite").string();
    }
    return options;
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

    std::optional<RelayStore> store;
    try {
        store.emplace(RelayDatabase::open(options->store),
                      RelayLimits{.signUpsPerHour = options->signUpsPerHour});
        if (options->data) {
            const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
            if (const auto kept = RelayStateImport::importFile(*store, *options->data, now)) {
                std::cout << "tesk-relay: imported " << options->data->string() << " into the store"
                          << "; the file is kept as " << kept->string() << std::endl;
            }
        }
    } catch (const RelayStateError& error) {
        std::cerr
            << "tesk-relay: " << error.what() << "\n"
            << "tesk-relay: not starting; the file was left as it is. Repair or move it, then start again.\n";
        return 1;
    } catch (const RelayStoreError& error) {
        std::cerr << "tesk-relay: " << error.what() << "\n";
        return 1;
    } catch (const fs::filesystem_error& error) {
        std::cerr << "tesk-relay: imported, but cannot rename " << options->data->string() << ": "
                  << error.code().message() << "\n";
        return 1;
    }

    RelayPushOptions push = options->push;
    // Push services are verified against the system's authorities, or those named as OpenSSL programs
    // take them.
    if (const char* authorities = std::getenv("SSL_CERT_FILE"); authorities && *authorities) {
        push.sender.caFile = authorities;
    }
    if (push.contact.empty()) {
        std::cerr << "tesk-relay: no --contact given, so phones get no notifications" << std::endl;
    }
    std::optional<RelayServer> server;
    try {
        server.emplace(*store, RelayConnectionLimits{}, options->trustedProxies, std::move(push));
    } catch (const std::exception& error) {
        std::cerr << "tesk-relay: cannot set up notifications: " << error.what() << "\n";
        return 1;
    }
    try {
        const std::uint16_t port = server->start(options->port);
        std::cout << "tesk-relay listening on port " << port << std::endl;
    } catch (const std::system_error& error) {
        std::cerr << "tesk-relay: " << error.what() << "\n";
        return 1;
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    return 0;
}
