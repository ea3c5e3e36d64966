#pragma once

#include <cstddef>
#include <optional>
#include <string>

/// What a share link points at: a folder (or the whole library), one item, a bundle, or an inbox that
/// only receives uploads.
class ShareTarget {
public:
    enum class Kind { folder, item, bundle, inbox };

    /// A folder and everything below it; no id means the whole library.
    static ShareTarget folder(std::optional<std::string> folderID = std::nullopt) {
        return ShareTarget(Kind::folder, std::move(folderID));
    }
    static ShareTarget item(std::string itemID) { return ShareTarget(Kind::item, std::move(itemID)); }
    static ShareTarget bundle(std::string bundleID) { return ShareTarget(Kind::bundle, std::move(bundleID)); }
    static ShareTarget inbox() { return ShareTarget(Kind::inbox, std::nullopt); }

    Kind kind() const { return kind_; }
    /// The folder, item or bundle id; absent for the whole library and for an inbox.
    const std::optional<std::string>& id() const { return id_; }

    friend bool operator==(const ShareTarget&, const ShareTarget&) = default;

private:
    ShareTarget(Kind kind, std::optional<std::string> id)
        : kind_(kind)
        , id_(std::move(id)) {}

    Kind kind_;
    std::optional<std::string> id_;
};

template <>
struct std::hash<ShareTarget> {
    std::size_t operator()(const ShareTarget& target) const noexcept {
        const std::size_t kind = static_cast<std::size_t>(target.kind());
        const std::size_t id = target.id() ? std::hash<std::string>{}(*target.id()) : 0x9e3779b9u;
        return id ^ (kind + 0x9e3779b97f4a7c15ull + (id << 6) + (id >> 2));
    }
};
