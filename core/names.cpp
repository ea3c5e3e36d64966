#include "names.h"

#include "ascii.h"
#include "http.h"
#include "text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <sys/random.h>
#include <system_error>
#include <unordered_set>
#include <utility>

namespace {

void fillRandom(unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t got = getrandom(data, size, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            // A weak fallback would hand out guessable ids and tokens; better to fail loudly.
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
}

constexpr std::string_view hexDigits = "0123456789abcdef";

bool isURIChar(char c) {
    return Ascii::isAlnum(c) || std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(c) != std::string_view::npos;
}

bool containsControl(std::string_view text) {
    for (std::size_t index = 0; index < text.size(); ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        if (byte < 0x20 || byte == 0x7f) {
            return true;
        }
        // U+0080 to U+009F are C2 80 to C2 9F.
        if (byte == 0xc2 && index + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[index + 1]);
            if (next >= 0x80 && next <= 0x9f) {
                return true;
            }
        }
    }
    return false;
}

// Non-ASCII passes: people paste addresses as browsers show them, not percent-encoded.
bool hasURICharacters(std::string_view text) {
    if (containsControl(text)) {
        return false;
    }
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char c = text[index];
        if (static_cast<unsigned char>(c) >= 0x80) {
            continue;
        }
        if (c == '%') {
            if (index + 2 >= text.size() || !Ascii::isHexDigit(text[index + 1]) ||
                !Ascii::isHexDigit(text[index + 2])) {
                return false;
            }
            index += 2;
        } else if (!isURIChar(c)) {
            return false;
        }
    }
    return true;
}

struct WebAddress {
    std::string_view host;
    std::string_view path;
};

std::optional<WebAddress> parseWebAddress(std::string_view text) {
    if (text.empty() || !Ascii::isAlpha(text.front()) || !hasURICharacters(text)) {
        return std::nullopt;
    }
    std::size_t schemeEnd = 1;
    while (schemeEnd < text.size() && (Ascii::isAlnum(text[schemeEnd]) || text[schemeEnd] == '+' ||
                                       text[schemeEnd] == '-' || text[schemeEnd] == '.')) {
        ++schemeEnd;
    }
    if (schemeEnd == text.size() || text[schemeEnd] != ':') {
        return std::nullopt;
    }
    const std::string scheme = Ascii::lowercased(text.substr(0, schemeEnd));
    if (scheme != "http" && scheme != "https") {
        return std::nullopt;
    }
    std::string_view rest = text.substr(schemeEnd + 1);
    if (!rest.starts_with("//")) {
        return std::nullopt;
    }
    rest.remove_prefix(2);

    const std::size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view hostAndPort = rest.substr(0, authorityEnd);
    if (const auto at = hostAndPort.rfind('@'); at != std::string_view::npos) {
        hostAndPort.remove_prefix(at + 1);
    }
    std::string_view host;
    std::string_view port;
    if (hostAndPort.starts_with('[')) {
        const auto close = hostAndPort.find(']');
        if (close == std::string_view::npos || close == 1) {
            return std::nullopt;
        }
        host = hostAndPort.substr(0, close + 1);
        port = hostAndPort.substr(close + 1);
    } else {
        const auto colon = std::min(hostAndPort.find(':'), hostAndPort.size());
        host = hostAndPort.substr(0, colon);
        port = hostAndPort.substr(colon);
        if (host.find_first_of("[]") != std::string_view::npos) {
            return std::nullopt;
        }
    }
    if (host.empty()) {
        return std::nullopt;
    }
    if (!port.empty() &&
        (port.front() != ':' || !std::all_of(port.begin() + 1, port.end(), Ascii::isDigit))) {
        return std::nullopt;
    }

    const std::string_view afterAuthority = rest.substr(authorityEnd);
    return WebAddress{
        host, afterAuthority.substr(0, std::min(afterAuthority.find_first_of("?#"), afterAuthority.size()))};
}

// Escapes that decode to invalid UTF-8 or to controls stay encoded: the name must stay readable text.
std::string readablePath(std::string_view path) {
    const auto decoded = HTTP::percentDecoded(path);
    if (!decoded || containsControl(*decoded)) {
        return std::string(path);
    }
    return *decoded;
}

std::string linkName(const WebAddress& address) {
    std::string name(address.host);
    if (name.starts_with("www.") && name.size() > 4) {
        name.erase(0, 4);
    }
    std::string path = readablePath(address.path);
    if (path.size() > 1 && path.ends_with('/')) {
        path.pop_back();
    }
    if (Text::characterCount(path) >= 2) {
        name += path;
    }
    return Text::prefixCharacters(name, 60);
}

std::string_view firstLine(std::string_view text) {
    std::size_t start = 0;
    for (std::size_t index = 0; index < text.size();) {
        const std::string_view rest = text.substr(index);
        std::size_t breakLength = 0;
        if (rest.front() == '\n' || rest.front() == '\v' || rest.front() == '\f' || rest.front() == '\r') {
            breakLength = 1;
        } else if (rest.starts_with("\u0085")) {
            breakLength = 2;
        } else if (rest.starts_with("\u2028") || rest.starts_with("\u2029")) {
            breakLength = 3;
        }
        if (breakLength == 0) {
            ++index;
            continue;
        }
        if (index > start) {
            return text.substr(start, index - start);
        }
        index += breakLength;
        start = index;
    }
    return text.substr(start);
}

std::string noteName(std::string_view content) {
    std::string name(firstLine(content));
    if (Text::characterCount(name) > 50) {
        name = Text::prefixCharacters(name, 48) + "\u2026";
    }
    return name.empty() ? "Note" : name;
}

// A leading dot marks a hidden file rather than an extension.
std::pair<std::string_view, std::string_view> splitExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return {name, {}};
    }
    return {name.substr(0, dot), name.substr(dot + 1)};
}

std::string joinExtension(std::string stem, std::string_view extension) {
    if (!extension.empty()) {
        stem += '.';
        stem += extension;
    }
    return stem;
}

// Linux takes at most 255 bytes for one path component.
constexpr std::size_t maxNameBytes = 255;
// An extension so long that the stem would shrink below this is not worth keeping.
constexpr std::size_t minStemBytes = 16;

std::string withinNameBytes(std::string_view name) {
    const auto [stem, extension] = splitExtension(name);
    if (!extension.empty() && extension.size() + 1 + minStemBytes <= maxNameBytes) {
        const std::string cut = Text::prefixWithinBytes(stem, maxNameBytes - 1 - extension.size());
        // An empty stem would leave a hidden ".extension".
        if (!cut.empty()) {
            return joinExtension(cut, extension);
        }
    }
    return Text::prefixWithinBytes(name, maxNameBytes);
}

std::string formatSize(std::uint64_t bytes) {
    if (bytes < 1000) {
        return bytes == 1 ? "1 byte" : std::to_string(bytes) + " bytes";
    }
    struct Unit {
        std::string_view name;
        std::uint64_t size;
        int decimals;
    };
    static constexpr std::array<Unit, 6> units{{
        {"kB", 1'000, 1},
        {"MB", 1'000'000, 1},
        {"GB", 1'000'000'000, 2},
        {"TB", 1'000'000'000'000, 2},
        {"PB", 1'000'000'000'000'000, 2},
        {"EB", 1'000'000'000'000'000'000, 2},
    }};
    std::size_t index = 0;
    while (index + 1 < units.size() && bytes >= units[index + 1].size) {
        ++index;
    }
    std::uint64_t scale = 0;
    std::uint64_t shown = 0;
    for (;; ++index) {
        scale = units[index].decimals == 1 ? 10 : 100;
        // Fits: bytes is at most 2^63 and the step at most 10^16.
        const std::uint64_t step = units[index].size / scale;
        shown = (bytes + step / 2) / step;
        if (shown < 1000 * scale || index + 1 == units.size()) {
            break;
        }
    }
    std::string text = std::to_string(shown / scale);
    std::string fraction = std::to_string(shown % scale);
    fraction.insert(0, static_cast<std::size_t>(units[index].decimals) - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    if (!fraction.empty()) {
        text += '.' + fraction;
    }
    return text + ' ' + std::string(units[index].name);
}

} // namespace

namespace Names {

std::string newID() {
    std::array<unsigned char, 16> bytes{};
    fillRandom(bytes.data(), bytes.size());
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    std::string id;
    id.reserve(36);
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) {
            id += '-';
        }
        id += hexDigits[bytes[index] >> 4];
        id += hexDigits[bytes[index] & 0x0f];
    }
    return id;
}

std::string safeFileName(std::string_view name) {
    std::string result = Text::validUTF8(name);
    std::replace(result.begin(), result.end(), '/', '-');
    std::replace(result.begin(), result.end(), ':', '-');
    result = Text::trimmed(Text::removingControlCharacters(result));
    // No trimming after this: a name that was ". notes" stays " notes" by design.
    result.erase(0, std::min(result.find_first_not_of('.'), result.size()));
    if (Text::characterCount(result) > 200) {
        const auto [stem, extension] = splitExtension(result);
        result = joinExtension(Text::prefixCharacters(stem, 180), extension);
    }
    if (result.size() > maxNameBytes) {
        result = withinNameBytes(result);
    }
    return result.empty() ? "file" : result;
}

std::string unique(std::string_view name, std::span<const std::string> taken) {
    std::unordered_set<std::string> lowered;
    lowered.reserve(taken.size());
    for (const auto& other : taken) {
        lowered.insert(Text::lowercased(other));
    }
    std::string candidate(name);
    // Ends: only taken.size() names can be in the way.
    for (std::size_t number = 2; lowered.contains(Text::lowercased(candidate)); ++number) {
        candidate = std::string(name) + ' ' + std::to_string(number);
    }
    return candidate;
}

Classification classify(std::string_view text) {
    Classification result;
    result.content = Text::trimmed(text);
    if (!Text::containsWhitespace(result.content)) {
        if (const auto address = parseWebAddress(result.content)) {
            result.kind = ItemKind::link;
            result.name = linkName(*address);
            return result;
        }
    }
    result.kind = ItemKind::text;
    result.name = noteName(result.content);
    return result;
}

std::string token(std::size_t length) {
    // Bytes at or above the largest multiple of the alphabet's size would favour its first letters.
    constexpr std::size_t limit = 256 - 256 % tokenAlphabet.size();
    std::string result;
    result.reserve(length);
    std::array<unsigned char, 256> batch{};
    while (result.size() < length) {
        const std::size_t missing = length - result.size();
        const std::size_t wanted = std::min(batch.size(), missing + missing / 16 + 4);
        fillRandom(batch.data(), wanted);
        for (std::size_t index = 0; index < wanted && result.size() < length; ++index) {
            if (batch[index] < limit) {
                result += tokenAlphabet[batch[index] % tokenAlphabet.size()];
            }
        }
    }
    return result;
}

std::string size(std::int64_t bytes) {
    if (bytes < 0) {
        // Through unsigned arithmetic so that INT64_MIN has a magnitude too.
        return "-" + formatSize(0 - static_cast<std::uint64_t>(bytes));
    }
    return formatSize(static_cast<std::uint64_t>(bytes));
}

} // namespace Names
