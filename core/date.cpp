#include "date.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

Date Date::now() {
    using namespace std::chrono;
    const auto since = duration<double>(system_clock::now().time_since_epoch());
    return fromUnix(since.count());
}

std::string Date::iso8601() const {
    // A damaged index can hold any number; keep the conversion defined (years 0 to 9999).
    constexpr double earliest = -62167219200.0;
    constexpr double latest = 253402300799.0;
    const double unix = unixSeconds();
    const double clamped = std::isnan(unix) ? 0.0 : std::clamp(std::floor(unix), earliest, latest);
    const auto seconds = static_cast<std::time_t>(clamped);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    // Written by hand: share documents carry one date per item and are built on every poll.
    std::string text = "0000-00-00T00:00:00Z";
    const auto digits = [&](std::size_t at, int value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10) {
            text[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
        }
    };
    digits(0, utc.tm_year + 1900, 4);
    digits(5, utc.tm_mon + 1, 2);
    digits(8, utc.tm_mday, 2);
    digits(11, utc.tm_hour, 2);
    digits(14, utc.tm_min, 2);
    digits(17, utc.tm_sec, 2);
    return text;
}
