#pragma once

#include "date.h"

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

/// How long a new or renewed share lasts.
class ShareDuration {
public:
    enum Value { hour, day, untilStopped };

    /// Every duration, in the order offered to the user.
    static const std::array<ShareDuration, 3> allCases;

    constexpr ShareDuration(Value value)
        : value_(value) {}

    /// The duration whose `id` is `text`, or nothing.
    static std::optional<ShareDuration> fromID(std::string_view text);

    constexpr Value value() const { return value_; }
    /// When a share made at `from` stops being served; nothing for `untilStopped`.
    std::optional<Date> expiry(Date from) const;
    /// "1 hour", "1 day" or "Until I stop".
    std::string_view label() const;
    /// The stored form: "hour", "day" or "untilStopped".
    std::string_view id() const;

    friend constexpr bool operator==(ShareDuration, ShareDuration) = default;

private:
    Value value_;
};

inline constexpr std::array<ShareDuration, 3> ShareDuration::allCases{hour, day, untilStopped};

template <>
struct std::hash<ShareDuration> {
    std::size_t operator()(ShareDuration duration) const noexcept {
        return std::hash<int>{}(static_cast<int>(duration.value()));
    }
};
