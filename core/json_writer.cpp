#include "json_writer.h"

#include "utf8.h"

#include <charconv>
#include <cmath>
#include <cstdio>

void JsonWriter::indent() {
    if (!pretty_) {
        return;
    }
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
    out_ += pretty_ ? ": " : ":";
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
    if (pretty_) {
        out_ += '\n';
    }
    return std::move(out_);
}

void JsonWriter::appendString(std::string_view text) {
    out_ += '"';
    for (std::size_t index = 0; index < text.size();) {
        // Plain printable ASCII goes out in one piece.
        std::size_t plain = index;
        while (plain < text.size()) {
            const auto p = static_cast<unsigned char>(text[plain]);
            if (p < 0x20 || p >= 0x80 || p == '"' || p == '\\') {
                break;
            }
            ++plain;
        }
        if (plain > index) {
            out_.append(text.substr(index, plain - index));
            index = plain;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[index]);
        if (c >= 0x80) {
            const std::size_t length = UTF8::sequenceLength(text, index);
            if (length == 0) {
                out_ += "\xEF\xBF\xBD"; // U+FFFD for a byte that is not UTF-8
                ++index;
            } else {
                out_.append(text.substr(index, length));
                index += length;
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
        ++index;
    }
    out_ += '"';
}
