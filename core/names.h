#pragma once

#include "item_kind.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

/// Turns what users and senders supply into the names and secrets the library stores.
namespace Names {

/// The 31 characters of tokens: lower-case letters without i, l and o, and the digits 2 to 9.
inline constexpr std::string_view tokenAlphabet = "abcdefghjkmnpqrstuvwxyz23456789";

/// What a pasted or sent piece of text is: a link or a note, its name, and its trimmed content.
struct Classification {
    ItemKind kind = ItemKind::text;
    std::string name;
    std::string content;

    friend bool operator==(const Classification&, const Classification&) = default;
};

/// A fresh random UUID (version 4), canonical form in lower case.
std::string newID();

/// A name safe as one path component: no "/" or ":", no control characters, no leading dots; names
/// over 200 user-perceived characters cut to 180 plus their extension; never over 255 bytes of UTF-8;
/// "file" when nothing is left.
std::string safeFileName(std::string_view name);

/// `name`, or `name` + " N" for the first N from 2 whose lower-cased form is not among the
/// lower-cased `taken` names.
std::string unique(std::string_view name, std::span<const std::string> taken);

/// Whether `text` is a link or a note, with its name and trimmed content.
Classification classify(std::string_view text);

/// `length` characters drawn uniformly from `tokenAlphabet` with the system's secure generator.
std::string token(std::size_t length);

/// A byte count as file managers show it, in decimal units: "1 byte", "12 bytes", "1.2 kB".
std::string size(std::int64_t bytes);

} // namespace Names
