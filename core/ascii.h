#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// Character tests and case mapping for the ASCII range only, whatever the C locale says. Protocol
/// text (schemes, methods, field names, hex escapes, tokens) is matched with these; bytes 0x80 to 0xFF
/// are never letters or digits and pass through case mapping unchanged, so UTF-8 stays intact.
namespace Ascii {

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

constexpr bool isAlnum(char c) {
    return isAlpha(c) || isDigit(c);
}

/// 0 to 15 for a hex digit of either case, else -1.
constexpr int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

constexpr bool isHexDigit(char c) {
    return hexValue(c) >= 0;
}

constexpr char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string lowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = lower(c);
    }
    return result;
}

inline std::string uppercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = upper(c);
    }
    return result;
}

constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t index = 0; index < a.size(); ++index) {
        if (lower(a[index]) != lower(b[index])) {
            return false;
        }
    }
    return true;
}

} // namespace Ascii
