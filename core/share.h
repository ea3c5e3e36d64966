#pragma once

#include "date.h"
#include "share_duration.h"
#include "share_target.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// A share link, active or past. `title`, `contents`, `itemCount` and `totalSize` describe the target
/// as it was when the share was made, so the history still reads after the target is gone.
struct Share {
    std::string token{};
    ShareTarget target = ShareTarget::inbox();
    Date created{};
    ShareDuration duration = ShareDuration::day;
    /// Absent for shares that run until stopped.
    std::optional<Date> expires{};
    std::int64_t downloads = 0;
    bool allowsUploads = true;
    /// When it was stopped, by the user or because its target was deleted.
    std::optional<Date> stopped{};
    std::string title{};
    std::vector<std::string> contents{};
    std::int64_t itemCount = 0;
    std::int64_t totalSize = 0;

    /// Not stopped, and no expiry or `now` strictly before it.
    bool isActive(Date now) const { return !stopped && (!expires || now < *expires); }

    friend bool operator==(const Share&, const Share&) = default;
};
