#pragma once

#include <compare>
#include <string>

/// An instant, kept as seconds since 2001-01-01 00:00:00 UTC in a double so that it round-trips
/// exactly through the index file, which stores that very number.
struct Date {
    /// Seconds between 1970-01-01 and 2001-01-01, both UTC.
    static constexpr double unixOffset = 978307200.0;

    double sinceReferenceDate = 0;

    /// The current instant from the system clock.
    static Date now();
    /// The instant `seconds` after the Unix epoch.
    static Date fromUnix(double seconds) { return Date{seconds - unixOffset}; }

    /// Seconds since the Unix epoch.
    double unixSeconds() const { return sinceReferenceDate + unixOffset; }
    /// This instant moved by `seconds`.
    Date adding(double seconds) const { return Date{sinceReferenceDate + seconds}; }
    /// ISO 8601 in whole seconds with "Z", e.g. "2026-12-06T20:12:13Z" (fractions are dropped).
    std::string iso8601() const;

    friend auto operator<=>(const Date&, const Date&) = default;
};
