#include "app/startup/command_line.h"

#include <cstdlib>

namespace {

using Mode = CommandLine::Mode;

std::optional<Mode> modeNamed(const std::string& word) {
    if (word == "share") {
        return Mode::share;
    }
    if (word == "receive") {
        return Mode::receive;
    }
    if (word == "links") {
        return Mode::links;
    }
    if (word == "stop") {
        return Mode::stop;
    }
    return std::nullopt;
}

ShareDuration durationNamed(const std::string& word) {
    if (word == "hour" || word == "day") {
        return *ShareDuration::fromID(word);
    }
    if (word == "stopped") {
        return ShareDuration::untilStopped;
    }
    throw CommandLineError("--for takes hour, day or stopped, not \"" + word + "\"");
}

std::vector<std::uint16_t> portsNamed(const std::string& text) {
    char* end = nullptr;
    const long port = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || port < 0 || port > 65535) {
        throw CommandLineError("--port takes a number from 0 to 65535, not \"" + text + "\"");
    }
    // 0 asks for any free port; anything else replaces the preferred ones.
    return port == 0 ? std::vector<std::uint16_t>{} : std::vector{static_cast<std::uint16_t>(port)};
}

} // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine line;
    std::size_t i = 0;
    if (!arguments.empty()) {
        if (const auto mode = modeNamed(arguments[0])) {
            line.mode = *mode;
            ++i;
        }
    }
    const auto value = [&](const std::string& option) -> const std::string& {
        if (i + 1 >= arguments.size()) {
            throw CommandLineError(option + " needs a value");
        }
        return arguments[++i];
    };
    const auto allowedIn = [&](const std::string& option, std::initializer_list<Mode> modes) {
        for (const Mode mode : modes) {
            if (line.mode == mode) {
                return;
            }
        }
        throw CommandLineError(option + " does not go with " + (i > 0 ? arguments[0] : "this command"));
    };
    for (; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line.mode = Mode::help;
            return line;
        }
        if (argument == "--for") {
            allowedIn(argument, {Mode::share, Mode::receive});
            line.duration = durationNamed(value(argument));
        } else if (argument == "--uploads") {
            allowedIn(argument, {Mode::share});
            line.uploads = true;
        } else if (argument == "--port" || argument == "--headless") {
            allowedIn(argument, {Mode::run, Mode::share, Mode::receive});
            if (argument == "--headless") {
                line.headless = true;
            } else {
                line.ports = portsNamed(value(argument));
            }
        } else if (!argument.starts_with("-") && line.mode == Mode::share) {
            line.paths.push_back(argument);
        } else if (!argument.starts_with("-") && line.mode == Mode::stop && line.link.empty()) {
            line.link = argument;
        } else if (argument == "--pair" || argument == "--open-panel" || argument == "--preview-first" ||
                   argument == "--snapshot" || argument == "--demo-server") {
            allowedIn(argument, {Mode::run});
            line.pair = line.pair || argument == "--pair";
            line.openPanel = line.openPanel || argument == "--open-panel";
            line.previewFirst = line.previewFirst || argument == "--preview-first";
            line.demoServer = line.demoServer || argument == "--demo-server";
            if (argument == "--snapshot") {
                line.snapshotDir = value(argument);
                if (line.snapshotDir->empty()) {
                    throw CommandLineError("--snapshot needs a folder");
                }
            }
        } else {
            throw CommandLineError("unknown argument \"" + argument + "\"");
        }
    }
    if (line.mode == Mode::stop && line.link.empty()) {
        throw CommandLineError("stop needs a link or its token");
    }
    return line;
}
