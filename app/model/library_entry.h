#pragma once

#include <optional>
#include <string>
#include <string_view>

/// A library folder or item as a drag inside the application carries it.
struct LibraryEntry {
    enum class Kind { item, folder };

    Kind kind = Kind::item;
    std::string id;

    static LibraryEntry item(std::string id) { return {Kind::item, std::move(id)}; }
    static LibraryEntry folder(std::string id) { return {Kind::folder, std::move(id)}; }

    /// "item:<id>" or "folder:<id>".
    std::string wire() const;
    /// Reads the wire form: split at the first ":", the first part "item" or "folder" and a
    /// non-empty id; else nothing.
    static std::optional<LibraryEntry> fromWire(std::string_view text);

    friend bool operator==(const LibraryEntry&, const LibraryEntry&) = default;
};
