// tesk: opens the library and shares it on the local network. This build runs without a window
// ("--headless"); the tray application arrives with the desktop layers.
#include "app/local_network.h"
#include "app/system_names.h"
#include "app/terminal_qr.h"
#include "core/library_store.h"
#include "server/tesk_server.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Options {
    std::vector<std::uint16_t> ports{47470, 47471, 47472};
    /// Show a pairing code at start and report what phones do.
    bool pair = false;
};

std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--headless") {
            continue;
        }
        if (argument == "--pair") {
            options.pair = true;
            continue;
        }
        if (argument == "--port" && i + 1 < argc) {
            char* end = nullptr;
            const long port = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) {
                return std::nullopt;
            }
            // 0 asks for any free port; anything else replaces the preferred ones.
            options.ports =
                port == 0 ? std::vector<std::uint16_t>{} : std::vector{static_cast<std::uint16_t>(port)};
            continue;
        }
        return std::nullopt;
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const auto options = parseArguments(argc, argv);
    if (!options) {
        std::cerr << "usage: tesk [--headless] [--port N] [--pair]\n";
        return 2;
    }

    // Block the stop signals before any thread starts, so that only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const auto root = SystemNames::libraryRoot();
    std::unique_ptr<LibraryStore> store;
    try {
        store = std::make_unique<LibraryStore>(root);
    } catch (const std::exception& error) {
        std::cerr << "Tesk couldn't open its library at " << root.string() << ".\n" << error.what() << "\n";
        return 1;
    }

    TeskServer server(*store, SystemNames::computerName());
    try {
        server.start(options->ports);
    } catch (const std::exception& error) {
        std::cerr << "Tesk couldn't start sharing on this network.\n" << error.what() << "\n";
        return 1;
    }
    server.setLocalHostName(SystemNames::localHostName());

    const std::string host = LocalNetwork::address().value_or("127.0.0.1");
    const std::string base = "http://" + host + ":" + std::to_string(server.port());
    std::cout << "Tesk is sharing at " << base << std::endl;

    if (options->pair) {
        // One line per event; events come from connection threads.
        auto printLock = std::make_shared<std::mutex>();
        server.setOnEvent([printLock](const ServerEvent& event) {
            std::lock_guard guard(*printLock);
            if (const auto* paired = std::get_if<ServerEvent::Paired>(&event.value)) {
                std::cout << "Paired: " << paired->device.name << std::endl;
            } else if (const auto* received = std::get_if<ServerEvent::Received>(&event.value)) {
                std::cout << "Received \"" << received->item.name << "\" from " << received->from
                          << std::endl;
            }
        });
        const auto code = store->newPairingCode();
        const std::string link = base + "/p/" + code.code + "/";
        std::cout << "Pair a phone within 10 minutes: open " << link << "\n"
                  << TerminalQR::render(link).value_or("") << std::flush;
    }

    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
