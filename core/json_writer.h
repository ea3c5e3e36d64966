#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// Writes JSON straight into a string, without building a document first: the index is written after
/// every change and share documents on every poll, so both must stay cheap for large libraries. The
/// caller writes keys in the order they should appear.
class JsonWriter {
public:
    enum class Style {
        /// Two-space indent, "key": value, one member a line.
        pretty,
        /// No white space at all.
        compact,
    };

    explicit JsonWriter(std::size_t reserve = 0, Style style = Style::pretty)
        : pretty_(style == Style::pretty) {
        out_.reserve(reserve);
    }

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }

    /// The next member's name; a value or a begin call must follow.
    void key(std::string_view name);

    void value(std::string_view text);
    void value(const char* text) { value(std::string_view(text)); }
    void value(std::int64_t number);
    void value(bool flag);
    /// The shortest text that reads back as exactly `number`; whole numbers below 2^53 as integers.
    void value(double number);

    /// The finished text; pretty text ends with a line break.
    std::string take();

private:
    void open(char bracket);
    void close(char bracket);
    /// Separator and indentation before an array element or a member.
    void beginElement();
    void indent();
    /// `text` quoted and escaped; invalid UTF-8 becomes U+FFFD.
    void appendString(std::string_view text);

    bool pretty_;
    std::string out_;
    /// For each open container: whether it has an element yet.
    std::vector<bool> hasElements_;
    bool afterKey_ = false;
};
