#include "item_kind.h"

std::string_view toString(ItemKind kind) {
    switch (kind) {
    case ItemKind::file:
        return "file";
    case ItemKind::link:
        return "link";
    case ItemKind::text:
        return "text";
    }
    return "file";
}

std::optional<ItemKind> itemKindFromString(std::string_view text) {
    for (auto kind : {ItemKind::file, ItemKind::link, ItemKind::text}) {
        if (toString(kind) == text) {
            return kind;
        }
    }
    return std::nullopt;
}
