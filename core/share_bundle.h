#pragma once

#include "date.h"

#include <string>
#include <vector>

/// A named set of items and folders shared by one link.
struct ShareBundle {
    std::string id{};
    std::string name{};
    /// In selection order.
    std::vector<std::string> itemIDs{};
    /// In selection order.
    std::vector<std::string> folderIDs{};
    Date created{};

    friend bool operator==(const ShareBundle&, const ShareBundle&) = default;
};
