#include "app/system/login_item.h"

#include "core/atomic_file.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace LoginItem {
namespace {

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        return entry->pw_dir;
    }
    return "/";
}

std::filesystem::path configDirectory() {
    // Relative values are to be ignored, as if unset.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
        return config;
    }
    return homeDirectory() / ".config";
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

/// One word of an Exec line. Words with reserved characters are double-quoted with ", `, $ and \ escaped;
/// a literal % is doubled so it is not read as a field code; and the whole value then takes the string
/// escapes of every desktop-entry value (backslash, newline, tab, carriage return).
std::string execWord(const std::string& word) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    const bool quote = word.empty() || word.find_first_of(reserved) != std::string::npos;
    if (quote) {
        quoted += '"';
    }
    for (const char c : word) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            quoted += '\\';
        }
        quoted += c;
        if (c == '%') {
            quoted += '%';
        }
    }
    if (quote) {
        quoted += '"';
    }
    std::string value;
    for (const char c : quoted) {
        switch (c) {
        case '\\':
            value += "\\\\";
            break;
        case '\n':
            value += "\\n";
            break;
        case '\t':
            value += "\\t";
            break;
        case '\r':
            value += "\\r";
            break;
        default:
            value += c;
        }
    }
    return value;
}

std::string entry(const std::filesystem::path& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tesk\n"
           "Comment=Share files, links and notes with phones on the same Wi-Fi\n"
           "Exec=" +
           execWord(executable.string()) +
           "\n"
           "Icon=tesk\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

} // namespace

std::filesystem::path autostartFile() {
    return configDirectory() / "autostart" / "tesk.desktop";
}

bool isEnabled() {
    const std::filesystem::path path = autostartFile();
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return false;
    }
    std::ifstream file(path);
    if (!file) {
        return false;
    }
    bool inMainGroup = false;
    for (std::string line; std::getline(file, line);) {
        const std::string_view text = trimmed(line);
        if (text.starts_with('[')) {
            inMainGroup = text == "[Desktop Entry]";
            continue;
        }
        const auto equals = text.find('=');
        if (!inMainGroup || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trimmed(text.substr(0, equals));
        const std::string_view value = trimmed(text.substr(equals + 1));
        // Desktops turn an entry off by either key rather than deleting it, so it stays off across updates.
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return true;
}

void setEnabled(bool enabled, const std::filesystem::path& executable) {
    const std::filesystem::path file = autostartFile();
    if (enabled) {
        std::filesystem::create_directories(file.parent_path());
        AtomicFile::write(file, entry(executable), 0644);
        return;
    }
    // remove() would also take an empty directory standing where the entry belongs; that is not ours.
    if (std::filesystem::is_directory(std::filesystem::symlink_status(file))) {
        throw std::filesystem::filesystem_error("remove autostart entry", file,
                                                std::make_error_code(std::errc::is_a_directory));
    }
    std::error_code error;
    std::filesystem::remove(file, error);
    // A path that cannot hold the entry (a file where the directory should be) holds no entry either:
    // there is nothing to turn off.
    if (error && error != std::errc::not_a_directory) {
        throw std::filesystem::filesystem_error("remove autostart entry", file, error);
    }
}

bool isInstalled(const std::filesystem::path& executable) {
    const std::string path = executable.lexically_normal().string();
    return path.starts_with("/usr/") || path.starts_with("/opt/");
}

} // namespace LoginItem
