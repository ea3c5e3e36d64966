// Feeds arbitrary pairing claim bodies to DeviceBodies::claimName. Whatever a phone sends, the name
// must be valid, non-empty, bounded text without control or format characters, already in the form
// the store keeps, and taken from the body's "name" rather than made up.
#include "core/text.h"
#include "core/utf8.h"
#include "fuzz_check.h"
#include "server/device_bodies.h"

#include <nlohmann/json.hpp>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

/// Whether `part`'s bytes appear in `whole` in order (dropping whole scalars from valid UTF-8 leaves
/// such a subsequence).
bool isSubsequence(std::string_view part, std::string_view whole) {
    std::size_t at = 0;
    for (const char c : whole) {
        if (at < part.size() && part[at] == c) {
            ++at;
        }
    }
    return at == part.size();
}

bool isPlainASCII(std::string_view text) {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7e) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const std::string name = DeviceBodies::claimName(body);

    require(!name.empty(), "empty name");
    require(UTF8::isValid(name), "name is not valid UTF-8");
    std::size_t scalars = 0;
    std::int32_t index = 0;
    const auto length = static_cast<std::int32_t>(name.size());
    UChar32 first = -1;
    UChar32 last = -1;
    while (index < length) {
        UChar32 c;
        U8_NEXT(name.data(), index, length, c);
        const auto type = u_charType(c);
        require(type != U_CONTROL_CHAR && type != U_FORMAT_CHAR, "control or format character in name");
        first = first < 0 ? c : first;
        last = c;
        ++scalars;
    }
    require(scalars <= DeviceBodies::maxNameScalars, "name longer than the bound");
    require(!u_isUWhiteSpace(first) && !u_isUWhiteSpace(last), "name not trimmed");
    // The store cleans the name it is given in the same way; it must find nothing left to change.
    require(Text::prefixScalars(Text::trimmed(Text::removingControlCharacters(Text::trimmed(name))),
                                DeviceBodies::maxNameScalars) == name,
            "the store would store a different name");

    // Independently of how the name is cleaned: where it came from.
    const auto parsed = nlohmann::json::parse(body, nullptr, false);
    const bool named = parsed.is_object() && parsed.contains("name") && parsed["name"].is_string();
    if (!named) {
        require(name == "Phone", "a name made up for a body without one");
        return 0;
    }
    const auto& given = parsed["name"].get_ref<const std::string&>();
    require(name == "Phone" || isSubsequence(name, given), "name not taken from the body");
    if (isPlainASCII(given) && !given.empty() && given.size() <= DeviceBodies::maxNameScalars &&
        given.front() != ' ' && given.back() != ' ') {
        require(name == given, "a plain, short name was altered");
    }
    return 0;
}
