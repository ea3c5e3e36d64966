#pragma once

#include <optional>
#include <string_view>

/// What an item holds: a stored file, a web address or a note.
enum class ItemKind { file, link, text };

/// The stored form: "file", "link" or "text".
std::string_view toString(ItemKind kind);
/// The kind for a stored form, or nothing for an unknown string.
std::optional<ItemKind> itemKindFromString(std::string_view text);
