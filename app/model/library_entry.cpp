#include "app/model/library_entry.h"

std::string LibraryEntry::wire() const {
    return (kind == Kind::item ? "item:" : "folder:") + id;
}

std::optional<LibraryEntry> LibraryEntry::fromWire(std::string_view text) {
    const auto colon = text.find(':');
    // An empty id is no entry: the drag was made from something that was not in the library.
    if (colon == std::string_view::npos || colon + 1 == text.size()) {
        return std::nullopt;
    }
    const auto kind = text.substr(0, colon);
    std::string id(text.substr(colon + 1));
    if (kind == "item") {
        return item(std::move(id));
    }
    if (kind == "folder") {
        return folder(std::move(id));
    }
    return std::nullopt;
}
