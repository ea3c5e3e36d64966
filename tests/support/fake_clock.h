#pragma once

#include "core/date.h"

#include <atomic>
#include <functional>

/// A clock the test moves by hand. Safe to read from several threads.
class FakeClock {
public:
    explicit FakeClock(Date start = Date{786000000})
        : seconds_(start.sinceReferenceDate) {}

    Date now() const { return Date{seconds_.load()}; }
    void set(Date instant) { seconds_.store(instant.sinceReferenceDate); }
    void advance(double seconds) {
        double current = seconds_.load();
        while (!seconds_.compare_exchange_weak(current, current + seconds)) {
        }
    }
    /// A function for LibraryStore's clock argument; the clock must outlive the store.
    std::function<Date()> function() const {
        return [this] { return now(); };
    }

private:
    std::atomic<double> seconds_;
};
