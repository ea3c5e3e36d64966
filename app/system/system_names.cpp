#include "app/system/system_names.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

namespace SystemNames {
namespace {

std::optional<std::string> hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return std::nullopt;
    }
    return std::string(name);
}

} // namespace

std::optional<std::string> prettyHostName(const std::string& machineInfo) {
    std::istringstream lines(machineInfo);
    std::string line;
    std::optional<std::string> found;
    while (std::getline(lines, line)) {
        if (!line.starts_with("PRETTY_HOSTNAME=")) {
            continue;
        }
        std::string value = line.substr(16);
        // Shell-style: the value may be quoted, with backslash escapes inside double quotes.
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            const char quote = value.front();
            std::string unquoted;
            for (std::size_t i = 1; i + 1 < value.size(); ++i) {
                if (quote == '"' && value[i] == '\\' && i + 2 < value.size()) {
                    ++i;
                }
                unquoted += value[i];
            }
            value = unquoted;
        }
        found = value;
    }
    if (found && found->empty()) {
        return std::nullopt;
    }
    return found;
}

std::string computerName() {
    std::ifstream file("/etc/machine-info");
    std::stringstream text;
    text << file.rdbuf();
    if (auto pretty = prettyHostName(text.str())) {
        return *pretty;
    }
    if (auto host = hostName()) {
        return *host;
    }
    return "this computer";
}

std::optional<std::string> localHostName() {
    auto host = hostName();
    if (!host) {
        return std::nullopt;
    }
    return host->substr(0, host->find('.')) + ".local";
}

std::filesystem::path libraryRoot() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') {
        return std::filesystem::path(dataHome) / "Tesk";
    }
    const char* home = std::getenv("HOME");
    std::string base = home && home[0] ? home : "";
    if (base.empty()) {
        if (const passwd* user = getpwuid(getuid())) {
            base = user->pw_dir;
        }
    }
    return std::filesystem::path(base) / ".local" / "share" / "Tesk";
}

} // namespace SystemNames
