#pragma once

#include <optional>
#include <string>

namespace Notifier {

/// What clicking a notification opens: an item of the library, or the phones view.
class Target {
public:
    enum class Kind { item, phones };

    static Target item(std::string id) { return Target(Kind::item, std::move(id)); }
    static Target phones() { return Target(Kind::phones, std::nullopt); }

    Kind kind() const { return kind_; }
    /// The item's id; absent for the phones view.
    const std::optional<std::string>& itemID() const { return itemID_; }

    friend bool operator==(const Target&, const Target&) = default;

private:
    Target(Kind kind, std::optional<std::string> itemID)
        : kind_(kind)
        , itemID_(std::move(itemID)) {}

    Kind kind_;
    std::optional<std::string> itemID_;
};

} // namespace Notifier
