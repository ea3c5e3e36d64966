// Feeds arbitrary bytes to HTTP::parse (and, since they are the other functions that take untrusted
// text, to contentDisposition and mimeType) and aborts when a safety property breaks.
#include "core/http.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool hasAny(std::string_view text, char from, char to) {
    return std::any_of(text.begin(), text.end(), [&](char c) { return c >= from && c <= to; });
}

bool isTrimmed(std::string_view text) {
    return text.empty() ||
           (text.front() != ' ' && text.front() != '\t' && text.back() != ' ' && text.back() != '\t');
}

void checkParse(std::string_view buffer) {
    const HTTPParseResult result = HTTP::parse(buffer);
    const std::size_t terminator = buffer.find("\r\n\r\n");
    if (result.isIncomplete()) {
        require(terminator == std::string_view::npos, "Incomplete although the head is complete");
        require(buffer.size() <= HTTP::maxHeaderBytes, "Incomplete past the size limit");
        return;
    }
    const auto* parsed = result.request();
    if (parsed == nullptr) {
        return;
    }
    require(terminator != std::string_view::npos, "Request without a blank line");
    require(parsed->headerLength == terminator + 4, "headerLength is not just past the first blank line");
    require(parsed->headerLength <= buffer.size(), "headerLength past the buffer");
    require(terminator <= HTTP::maxHeaderBytes, "head longer than the limit accepted");

    const HTTPRequest& request = parsed->request;
    require(!request.method.empty() && !hasAny(request.method, 'a', 'z'), "method not upper-cased");
    for (const auto& segment : request.segments) {
        require(!segment.empty(), "empty segment");
        require(segment != "..", "'..' segment");
        require(std::none_of(segment.begin(), segment.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }),
                "control character in a segment");
    }
    for (const auto& [name, value] : request.headers) {
        require(!hasAny(name, 'A', 'Z'), "header name not lower-cased");
        require(isTrimmed(name) && isTrimmed(value), "header field not trimmed");
    }
    if (const std::optional<std::int64_t> length = request.contentLength()) {
        std::string_view field = request.headers.at("content-length");
        const bool negative = field.starts_with('-');
        if (field.starts_with('+') || negative) {
            field.remove_prefix(1);
        }
        require(!field.empty() && field.find_first_not_of("0123456789") == std::string_view::npos,
                "length from a field that is not a decimal");
        require(negative ? *length <= 0 : *length >= 0, "length with the wrong sign");
    }
    // The body must never change how the head reads.
    require(HTTP::parse(buffer.substr(0, parsed->headerLength)) == result, "verdict depends on the body");
}

void checkContentDisposition(std::string_view name) {
    for (const bool isInline : {false, true}) {
        const std::string value = HTTP::contentDisposition(name, isInline);
        const std::string_view prefix = isInline ? "inline; filename=\"" : "attachment; filename=\"";
        const std::string_view separator = "\"; filename*=UTF-8''";
        require(value.starts_with(prefix), "disposition prefix");
        const std::size_t quoteEnd = value.find(separator, prefix.size());
        require(quoteEnd != std::string::npos, "disposition separator");
        const std::string_view fallback =
            std::string_view(value).substr(prefix.size(), quoteEnd - prefix.size());
        require(fallback.find_first_of("\"\\") == std::string_view::npos, "quote or backslash in fallback");
        for (const char c : value) {
            const auto byte = static_cast<unsigned char>(c);
            require(byte >= 0x20 && byte < 0x7f, "control or non-ASCII byte in Content-Disposition");
        }
        // Every byte of the name comes back once: as itself or as three characters of escape.
        const std::string_view encoded = std::string_view(value).substr(quoteEnd + separator.size());
        require(encoded.size() >= name.size() && encoded.size() <= 3 * name.size(), "encoded length");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkParse(input);
    checkContentDisposition(input);
    const std::string_view type = HTTP::mimeType(input);
    require(!type.empty(), "empty MIME type");
    return 0;
}
