#pragma once

#include "date.h"

#include <optional>
#include <string>

/// A folder of the library. Folders exist only in the index; no directory on disk matches one.
struct Folder {
    std::string id{};
    std::string name{};
    /// Absent for a folder at the root of the library.
    std::optional<std::string> parentID{};
    Date created{};

    friend bool operator==(const Folder&, const Folder&) = default;
};
