#pragma once

#include "relay/store/relay_records.h"

#include <string>
#include <string_view>
#include <vector>

/// The relay's documents for phones and browsers: the launcher (one paired phone's Home Screen web app)
/// with its manifest, and the page that confirms following a share. Pure text builders in the look of
/// the Mac's own pages; every value is escaped where it is inserted.
namespace RelayPages {

/// "/d/<macId>/<token>/" with both segments percent-encoded.
std::string launcherPath(std::string_view macId, std::string_view token);

/// The phone page of device `token` on the Mac at base address `address`, opened from the relay's app.
std::string phonePage(std::string_view address, std::string_view token);

/// The launcher of the phone with device `token` when the relay does not find it on its Mac's network:
/// where the Mac is (the Wi-Fi `ssid` it reported, or that it has not checked in lately when not
/// `awake`), "Try again", and a link to the phone page at the Mac's first LAN address, if any. Arriving
/// from pairing it shows how to add it to the Home Screen instead.
std::string launcher(const RelayMac& mac, bool awake, std::string_view macId, std::string_view token);

/// The launcher's web-app manifest: one compact JSON object.
std::string manifest(std::string_view macId, std::string_view token);

/// "You're following" the share titled `title`.
std::string following(std::string_view title);

} // namespace RelayPages
