#include "json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

void JsonWriter::indent() {
    out_ += '\n';
    out_.append(hasElements_.size() * 2, ' ');
}

void JsonWriter::beginElement() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (hasElements_.empty()) {
        return;
    }
    if (hasElements_.back()) {
        out_ += ',';
    }
    hasElements_.back() = true;
    indent();
}

void JsonWriter::open(char bracket) {
    beginElement();
    out_ += bracket;
    hasElements_.push_back(false);
}

void JsonWriter::close(char bracket) {
    const bool any = hasElements_.back();
    hasElements_.pop_back();
    if (any) {
        indent();
    }
    out_ += bracket;
}

void JsonWriter::key(std::string_view name) {
    beginElement();
    appendString(name);
    out_ += ": ";
    afterKey_ = true;
}

void JsonWriter::value(std::string_view text) {
    beginElement();
    appendString(text);
}

void JsonWriter::value(std::int64_t number) {
    beginElement();
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, number).ptr;
    out_.append(buffer, end);
}

void JsonWriter::value(bool flag) {
    beginElement();
    out_ += flag ? "true" : "false";
}

void JsonWriter::value(double number) {
    constexpr double exactIntegerLimit = 9007199254740992.0; // 2^53
    if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < exactIntegerLimit) {
        value(static_cast<std::int64_t>(number));
        return;
    }
    beginElement();
    if (!std::isfinite(number)) {
        out_ += "null"; // JSON has no infinities; the reader then refuses the file rather than misread it
        return;
    }
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, number).ptr;
    out_.append(buffer, end);
}

std::string JsonWriter::take() {
    out_ += '\n';
    return std::move(out_);
}

namespace {

/// Length of the valid UTF-8 sequence starting at `p`, or 0.
std::size_t validSequence(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = p[0];
    std::size_t length;
    char32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, min = 0x10000;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < length) {
        return 0;
    }
    char32_t scalar = c & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        scalar = (scalar << 6) | (p[i] & 0x3F);
    }
    if (scalar < min || scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) {
        return 0;
    }
    return length;
}

} // namespace

void JsonWriter::appendString(std::string_view text) {
    out_ += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c >= 0x80) {
            const std::size_t length = validSequence(p, end);
            if (length == 0) {
                out_ += "\xEF\xBF\xBD";
                ++p;
            } else {
                out_.append(reinterpret_cast<const char*>(p), length);
                p += length;
            }
            continue;
        }
        switch (c) {
        case '"':
            out_ += "\\\"";
            break;
        case '\\':
            out_ += "\\\\";
            break;
        case '\b':
            out_ += "\\b";
            break;
        case '\f':
            out_ += "\\f";
            break;
        case '\n':
            out_ += "\\n";
            break;
        case '\r':
            out_ += "\\r";
            break;
        case '\t':
            out_ += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out_ += escaped;
            } else {
                out_ += static_cast<char>(c);
            }
        }
        ++p;
    }
    out_ += '"';
}
