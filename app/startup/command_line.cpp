#include "app/startup/command_line.h"

#include <cstdlib>

std::optional<CommandLine> CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--headless") {
            line.headless = true;
        } else if (argument == "--pair") {
            line.pair = true;
        } else if (argument == "--open-panel") {
            line.openPanel = true;
        } else if (argument == "--preview-first") {
            line.previewFirst = true;
        } else if (argument == "--snapshot" && i + 1 < arguments.size() && !arguments[i + 1].empty()) {
            line.snapshotDir = arguments[++i];
        } else if (argument == "--demo-server") {
            line.demoServer = true;
        } else if (argument == "--port" && i + 1 < arguments.size()) {
            const std::string& text = arguments[++i];
            char* end = nullptr;
            const long port = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || port < 0 || port > 65535) {
                return std::nullopt;
            }
            // 0 asks for any free port; anything else replaces the preferred ones.
            line.ports =
                port == 0 ? std::vector<std::uint16_t>{} : std::vector{static_cast<std::uint16_t>(port)};
        } else {
            return std::nullopt;
        }
    }
    return line;
}
