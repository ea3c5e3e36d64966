#include "relay/push/base64_url.h"

#include <cstdint>

namespace Base64Url {

namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int sextet(char c) {
    const auto at = alphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

} // namespace

std::string encoded(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() * 4 + 2) / 3);
    std::uint32_t bits = 0;
    int pending = 0; // bits in `bits` not written yet
    for (const char byte : bytes) {
        bits = bits << 8 | static_cast<unsigned char>(byte);
        pending += 8;
        while (pending >= 6) {
            pending -= 6;
            text += alphabet[(bits >> pending) & 0x3f];
        }
    }
    if (pending > 0) {
        text += alphabet[(bits << (6 - pending)) & 0x3f];
    }
    return text;
}

std::optional<std::string> decoded(std::string_view text) {
    const auto end = text.find_last_not_of('=') + 1; // 0 when `text` is all padding
    const std::size_t padding = text.size() - end;
    // Padding only ever completes the last group of four, and one character alone holds no byte.
    if ((padding > 0 && (padding > 2 || text.size() % 4 != 0)) || end % 4 == 1) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(end * 3 / 4);
    std::uint32_t bits = 0;
    int pending = 0;
    for (const char c : text.substr(0, end)) {
        const int value = sextet(c);
        if (value < 0) {
            return std::nullopt;
        }
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            bytes += static_cast<char>((bits >> pending) & 0xff);
        }
    }
    return bytes;
}

} // namespace Base64Url
