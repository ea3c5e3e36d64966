// Feeds arbitrary bodies to DeviceBodies::sentText, the text a paired phone sends. What is filed must
// be the body itself, valid UTF-8, within the limit and not blank; what is refused must be one of those
// faults. An input that starts with the byte 0x01 also has the rest tried padded to exactly the limit
// and one byte past it: sizes the fuzzer would rarely reach by growing inputs, and too slow to scan on
// every run.
#include "core/utf8.h"
#include "fuzz_check.h"
#include "server/device_bodies.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

/// Whether valid UTF-8 `text` holds a scalar that is not white space.
bool hasVisibleScalar(std::string_view text) {
    std::int32_t index = 0;
    const auto length = static_cast<std::int32_t>(text.size());
    while (index < length) {
        UChar32 c;
        U8_NEXT(text.data(), index, length, c);
        if (!u_isUWhiteSpace(c)) {
            return true;
        }
    }
    return false;
}

void check(std::string_view body) {
    const std::optional<std::string> text = DeviceBodies::sentText(body);
    const bool acceptable = !body.empty() && body.size() <= DeviceBodies::maxTextBytes &&
                            UTF8::isValid(body) && hasVisibleScalar(body);
    require(text.has_value() == acceptable, text ? "unusable text filed" : "usable text refused");
    if (text) {
        require(*text == body, "filed text differs from the body");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    check(body);
    if (body.starts_with('\x01') && size - 1 <= DeviceBodies::maxTextBytes) {
        // Padded in front with spaces so the rest's own verdict decides, then one byte too many.
        const std::string_view rest = body.substr(1);
        std::string padded(DeviceBodies::maxTextBytes - rest.size(), ' ');
        padded += rest;
        check(padded);
        padded += '!';
        check(padded);
    }
    return 0;
}
