#pragma once

#include "date.h"

#include <cstdint>
#include <optional>
#include <string>

/// A phone that has paired with this computer.
struct PairedDevice {
    /// Also the key of its receiving folder in `Library::deviceFolders`.
    std::string id{};
    std::string name{};
    /// The secret the phone sends with every request.
    std::string token{};
    Date paired{};
    /// Absent until the phone first sends something.
    std::optional<Date> lastSent{};
    std::int64_t sentCount = 0;

    friend bool operator==(const PairedDevice&, const PairedDevice&) = default;
};
