#pragma once

#include <chrono>
#include <string>

/// One notification for a browser's service worker: what it shows and what a tap opens.
struct PushMessage {
    std::string title;
    std::string body;
    /// On the relay's origin, e.g. "/k/<macId>/<token>".
    std::string url;
    /// How long the push service keeps it for a browser that is offline.
    std::chrono::seconds ttl{0};
    /// Sent by a person for a person, so worth waking a phone for.
    bool urgent = false;
};
