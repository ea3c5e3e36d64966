#include "date.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
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
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}
