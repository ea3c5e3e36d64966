#include "share_duration.h"

std::optional<ShareDuration> ShareDuration::fromID(std::string_view text) {
    for (auto duration : allCases) {
        if (duration.id() == text) {
            return duration;
        }
    }
    return std::nullopt;
}

std::optional<Date> ShareDuration::expiry(Date from) const {
    switch (value_) {
    case hour:
        return from.adding(3600);
    case day:
        return from.adding(86400);
    case untilStopped:
        break;
    }
    return std::nullopt;
}

std::string_view ShareDuration::label() const {
    switch (value_) {
    case hour:
        return "1 hour";
    case day:
        return "1 day";
    case untilStopped:
        break;
    }
    return "Until I stop";
}

std::string_view ShareDuration::id() const {
    switch (value_) {
    case hour:
        return "hour";
    case day:
        return "day";
    case untilStopped:
        break;
    }
    return "untilStopped";
}
