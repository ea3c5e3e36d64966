#pragma once

#include <string>
#include <string_view>

/// The documents of pairing and of a paired phone: the pairing page, the phone page (the phone's Home
/// Screen web app) and its web-app manifest. Pure text builders, safe from any thread; the pages hold
/// no data beyond the values inserted here and talk to the device routes with relative addresses.
namespace DevicePages {

/// The pairing page for a Mac called `mac` (escaped where it is inserted); its script claims the code
/// and leaves for the phone page.
std::string pair(std::string_view mac);

/// The phone page of the device with `token`. `launcher` is the relay's page for this phone, or empty
/// when the server has no device base; only then does the page carry its own manifest and icon links.
/// The card offering the share-sheet shortcut is there only with `shareSheet`.
std::string phone(std::string_view token, std::string_view launcher, bool shareSheet = true);

/// The web-app manifest of the device with `token`: one compact JSON object.
std::string manifest(std::string_view token);

} // namespace DevicePages
