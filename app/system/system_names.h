#pragma once

#include <filesystem>
#include <optional>
#include <string>

/// What the desktop calls this computer, and where the library lives.
namespace SystemNames {

/// PRETTY_HOSTNAME from machine-info text, unquoted; nothing when absent or empty.
std::optional<std::string> prettyHostName(const std::string& machineInfo);

/// The name shown on pages: the pretty host name, else the host name, else "this computer".
std::string computerName();

/// The short host name + ".local", as the local multicast DNS publishes it; nothing without a host name.
std::optional<std::string> localHostName();

/// $XDG_DATA_HOME/Tesk when that is an absolute path, else $HOME/.local/share/Tesk.
std::filesystem::path libraryRoot();

} // namespace SystemNames
