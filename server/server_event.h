#pragma once

#include "core/item.h"
#include "core/paired_device.h"

#include <string>
#include <variant>

/// What the server reports to the application.
struct ServerEvent {
    /// A file of a share was sent completely as a counted download.
    struct Downloaded {
        Item item;
        /// The peer that downloaded it.
        std::string by;
    };
    /// A folder or bundle was sent completely as one archive, counted once.
    struct DownloadedArchive {
        std::string shareToken;
        std::string by;
    };
    /// An upload or a phone's text was stored as a new item.
    struct Received {
        Item item;
        /// Who sent it.
        std::string from;
    };
    /// A phone claimed a pairing code.
    struct Paired {
        PairedDevice device;
    };

    std::variant<Downloaded, DownloadedArchive, Received, Paired> value;
};
