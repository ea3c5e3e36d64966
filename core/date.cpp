#include "date.h"

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
    const auto seconds = static_cast<std::time_t>(std::floor(unixSeconds()));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}
