#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// Unicode-aware helpers over UTF-8 text, backed by ICU. Invalid UTF-8 is read as U+FFFD, so every
/// result is valid UTF-8.
namespace Text {

/// Number of user-perceived characters (extended grapheme clusters).
std::size_t characterCount(std::string_view text);
/// The first `count` user-perceived characters.
std::string prefixCharacters(std::string_view text, std::size_t count);
/// The longest prefix made of whole user-perceived characters that fits in `maxBytes` bytes.
std::string prefixWithinBytes(std::string_view text, std::size_t maxBytes);
/// Number of Unicode scalars.
std::size_t scalarCount(std::string_view text);
/// The first `count` Unicode scalars.
std::string prefixScalars(std::string_view text, std::size_t count);
/// `text` without white space and line breaks (any Unicode white space) at both ends.
std::string trimmed(std::string_view text);
/// Whether `text` holds any Unicode white-space character, line breaks included.
bool containsWhitespace(std::string_view text);
/// `text` without the scalars of general categories Cc and Cf.
std::string removingControlCharacters(std::string_view text);
/// Locale-independent lower-casing (full case mapping).
std::string lowercased(std::string_view text);
/// `text` with invalid UTF-8 sequences replaced by U+FFFD.
std::string validUTF8(std::string_view text);

/// Compares names as a file manager orders them: the user's locale (LC_ALL, LC_COLLATE, then LANG),
/// ignoring case, numbers by value. Negative, zero or positive like strcmp.
int compareLocalized(std::string_view a, std::string_view b);

} // namespace Text
