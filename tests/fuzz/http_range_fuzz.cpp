// Feeds arbitrary "range" values and sizes to HTTP::range and aborts when an answer could make the
// server read outside the file. Input: the size in decimal, a line feed, then the header value; an
// input without a line feed is a request without the header.
#include "core/http.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace {

/// Lenient on purpose: any text becomes some size, so the fuzzer spends its time on the value.
std::int64_t sizeFrom(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    std::int64_t size = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            continue;
        }
        if (size > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) {
            size = std::numeric_limits<std::int64_t>::max();
            break;
        }
        size = size * 10 + (c - '0');
    }
    return negative ? -size : size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    const std::int64_t fileSize = sizeFrom(input.substr(0, newline));
    std::optional<std::string> value;
    if (newline != std::string_view::npos) {
        value = std::string(input.substr(newline + 1));
    }

    const ByteRangeResult result = HTTP::range(value, fileSize);
    if (const auto* partial = std::get_if<ByteRangeResult::Partial>(&result.value)) {
        require(partial->start >= 0, "negative start");
        require(partial->start <= partial->end, "start after end");
        require(partial->end < fileSize, "end past the file");
        require(value && value->starts_with("bytes="), "partial without a byte range");
    }
    if (!value || !value->starts_with("bytes=")) {
        require(std::holds_alternative<ByteRangeResult::Whole>(result.value), "foreign unit not ignored");
    }
    return 0;
}
