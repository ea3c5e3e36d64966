#include "text.h"

#include "ascii.h"

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

icu::StringPiece piece(std::string_view text) {
    // ICU indexes with int32_t; anything beyond that is not a name or a note anyone pastes.
    return icu::StringPiece(text.data(), static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX)));
}

icu::UnicodeString fromUTF8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(piece(text));
}

std::string toUTF8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

// Break iterators are costly to create and not safe to share, so each thread keeps one.
icu::BreakIterator* characterBreaks() {
    thread_local const std::unique_ptr<icu::BreakIterator> breaks = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) {
            created.reset();
        }
        return created;
    }();
    return breaks.get();
}

template <class Visit>
void forEachCharacter(const icu::UnicodeString& text, Visit visit) {
    icu::BreakIterator* breaks = characterBreaks();
    if (breaks == nullptr) {
        // Without ICU's break data, code points are the best boundaries left.
        for (int32_t start = 0; start < text.length();) {
            const int32_t end = text.moveIndex32(start, 1);
            if (!visit(start, end)) {
                return;
            }
            start = end;
        }
        return;
    }
    breaks->setText(text);
    int32_t start = breaks->first();
    for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) {
        if (!visit(start, end)) {
            return;
        }
        start = end;
    }
}

// Counted as toUTF8String will encode it: a lone surrogate becomes U+FFFD, three bytes like itself.
std::size_t utf8Length(const icu::UnicodeString& text, int32_t start, int32_t end) {
    std::size_t bytes = 0;
    for (int32_t index = start; index < end;) {
        const UChar32 c = text.char32At(index);
        bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        index += U16_LENGTH(c);
    }
    return bytes;
}

bool isControl(UChar32 c) {
    const auto type = u_charType(c);
    return type == U_CONTROL_CHAR || type == U_FORMAT_CHAR;
}

std::string collationLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        // POSIX names carry a codeset and a modifier ICU does not take: "de_DE.UTF-8@euro".
        std::string name(value);
        if (const auto suffix = name.find_first_of(".@"); suffix != std::string::npos) {
            name.erase(suffix);
        }
        if (name == "C" || name == "POSIX") {
            return "";
        }
        return name;
    }
    return "";
}

std::unique_ptr<icu::Collator> makeCollator() {
    const std::string name = collationLocaleName();
    const icu::Locale locale = name.empty() ? icu::Locale::getRoot() : icu::Locale(name.c_str());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || collator == nullptr) {
        return nullptr;
    }
    collator->setAttribute(UCOL_STRENGTH, UCOL_SECONDARY, status);
    collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    if (U_FAILURE(status)) {
        return nullptr;
    }
    return collator;
}

// The locale is read once; every thread compares with its own clone since a collator is not meant
// to be used from several threads at once.
icu::Collator* threadCollator() {
    static const std::unique_ptr<icu::Collator> configured = makeCollator();
    thread_local const std::unique_ptr<icu::Collator> own(configured ? configured->clone() : nullptr);
    return own.get();
}

int compareIgnoringASCIICase(std::string_view a, std::string_view b) {
    // Bytes compare unsigned, so non-ASCII names sort after ASCII ones as in strcmp.
    const auto lower = [](char c) { return static_cast<unsigned char>(Ascii::lower(c)); };
    for (std::size_t index = 0; index < a.size() && index < b.size(); ++index) {
        const auto left = lower(a[index]);
        const auto right = lower(b[index]);
        if (left != right) {
            return left < right ? -1 : 1;
        }
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

} // namespace

namespace Text {

std::size_t characterCount(std::string_view text) {
    const icu::UnicodeString unicode = fromUTF8(text);
    std::size_t count = 0;
    forEachCharacter(unicode, [&](int32_t, int32_t) {
        ++count;
        return true;
    });
    return count;
}

std::string prefixCharacters(std::string_view text, std::size_t count) {
    const icu::UnicodeString unicode = fromUTF8(text);
    int32_t cut = 0;
    std::size_t taken = 0;
    forEachCharacter(unicode, [&](int32_t, int32_t end) {
        if (taken == count) {
            return false;
        }
        ++taken;
        cut = end;
        return true;
    });
    return toUTF8(unicode.tempSubString(0, cut));
}

std::string prefixWithinBytes(std::string_view text, std::size_t maxBytes) {
    const icu::UnicodeString unicode = fromUTF8(text);
    int32_t cut = 0;
    std::size_t bytes = 0;
    forEachCharacter(unicode, [&](int32_t start, int32_t end) {
        bytes += utf8Length(unicode, start, end);
        if (bytes > maxBytes) {
            return false;
        }
        cut = end;
        return true;
    });
    return toUTF8(unicode.tempSubString(0, cut));
}

std::size_t scalarCount(std::string_view text) {
    return static_cast<std::size_t>(fromUTF8(text).countChar32());
}

std::string prefixScalars(std::string_view text, std::size_t count) {
    const icu::UnicodeString unicode = fromUTF8(text);
    const auto delta = static_cast<int32_t>(std::min<std::size_t>(count, INT32_MAX));
    return toUTF8(unicode.tempSubString(0, unicode.moveIndex32(0, delta)));
}

std::string trimmed(std::string_view text) {
    const icu::UnicodeString unicode = fromUTF8(text);
    int32_t start = 0;
    int32_t end = unicode.length();
    while (start < end && u_isUWhiteSpace(unicode.char32At(start))) {
        start = unicode.moveIndex32(start, 1);
    }
    while (end > start && u_isUWhiteSpace(unicode.char32At(end - 1))) {
        end = unicode.moveIndex32(end, -1);
    }
    return toUTF8(unicode.tempSubString(start, end - start));
}

bool containsWhitespace(std::string_view text) {
    const icu::UnicodeString unicode = fromUTF8(text);
    for (int32_t index = 0; index < unicode.length(); index = unicode.moveIndex32(index, 1)) {
        if (u_isUWhiteSpace(unicode.char32At(index))) {
            return true;
        }
    }
    return false;
}

std::string removingControlCharacters(std::string_view text) {
    const icu::UnicodeString unicode = fromUTF8(text);
    icu::UnicodeString kept;
    for (int32_t index = 0; index < unicode.length(); index = unicode.moveIndex32(index, 1)) {
        const UChar32 c = unicode.char32At(index);
        if (!isControl(c)) {
            kept.append(c);
        }
    }
    return toUTF8(kept);
}

std::string lowercased(std::string_view text) {
    icu::UnicodeString unicode = fromUTF8(text);
    unicode.toLower(icu::Locale::getRoot());
    return toUTF8(unicode);
}

std::string validUTF8(std::string_view text) {
    return toUTF8(fromUTF8(text));
}

int compareLocalized(std::string_view a, std::string_view b) {
    if (icu::Collator* collator = threadCollator()) {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult result = collator->compareUTF8(piece(a), piece(b), status);
        if (U_SUCCESS(status)) {
            return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
        }
    }
    return compareIgnoringASCIICase(a, b);
}

} // namespace Text
