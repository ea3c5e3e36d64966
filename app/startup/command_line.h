#pragma once

#include "core/share_duration.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

/// A command line `tesk` cannot act on; the message names the argument.
class CommandLineError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

/// What `tesk` was asked to do.
struct CommandLine {
    enum class Mode {
        /// The tray application, or the headless server.
        run,
        /// Add `paths` to the library and share them.
        share,
        /// Make a receive link and report what arrives.
        receive,
        /// List the working links.
        links,
        /// Stop the link `link`.
        stop,
        help,
    };

    Mode mode = Mode::run;
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
    /// share: the files and folders, as given.
    std::vector<std::string> paths;
    /// share and receive: how long the link lasts; each has its own default.
    std::optional<ShareDuration> duration;
    /// share: whether phones may upload into the shared folder.
    bool uploads = false;
    /// stop: a link or its token.
    std::string link;

    /// Throws CommandLineError for an argument it does not know or a value that does not fit.
    static CommandLine parse(const std::vector<std::string>& arguments);
    static constexpr const char* usage = "usage: tesk [--open-panel] [--preview-first]\n"
                                         "       tesk --headless [--port N] [--pair]\n"
                                         "       tesk share PATH... [--for hour|day|stopped] [--uploads]\n"
                                         "       tesk receive [--for hour|day|stopped]\n"
                                         "       tesk links\n"
                                         "       tesk stop LINK|TOKEN\n"
                                         "       tesk --snapshot DIR\n"
                                         "       tesk --demo-server\n";
    static constexpr const char* help =
        "Tesk keeps copies of files, folders, links and notes and shares them with phones on this Wi-Fi.\n"
        "\n"
        "  tesk                    the tray application (--open-panel, --preview-first)\n"
        "  tesk --headless         share without a desktop (--port N, --pair to pair a phone)\n"
        "  tesk share PATH...      add files and folders and print a link and its QR code\n"
        "                          (--for hour|day|stopped, --uploads to let phones add to it)\n"
        "  tesk receive            print a link a phone can send to, then every file that arrives\n"
        "                          (--for hour|day|stopped)\n"
        "  tesk links              list the working links\n"
        "  tesk stop LINK|TOKEN    stop a link\n"
        "  tesk --snapshot DIR     draw the panel over sample data into DIR, one PNG per state\n"
        "  tesk --demo-server      serve sample data from a temporary folder\n"
        "  tesk --help             this help\n"
        "\n"
        "When Tesk is already running for this library, the command is handed to it.\n";
};
