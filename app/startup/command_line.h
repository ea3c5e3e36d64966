#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// What `tesk` was asked to do.
struct CommandLine {
    /// Run without any window.
    bool headless = false;
    /// Headless: show a pairing code at start and report what phones do.
    bool pair = false;
    /// Listen on these ports instead of the preferred ones; empty asks for any free port.
    std::optional<std::vector<std::uint16_t>> ports;
    bool openPanel = false;
    bool previewFirst = false;
    /// Draw the panel's states with made-up data into this folder as PNG files, then quit.
    std::optional<std::string> snapshotDir;
    /// Serve made-up data headless on a free port.
    bool demoServer = false;

    /// Nothing for arguments it does not know.
    static std::optional<CommandLine> parse(const std::vector<std::string>& arguments);
    static constexpr const char* usage = "usage: tesk [--open-panel] [--preview-first]\n"
                                         "       tesk --headless [--port N] [--pair]\n"
                                         "       tesk --snapshot DIR\n"
                                         "       tesk --demo-server\n";
};
