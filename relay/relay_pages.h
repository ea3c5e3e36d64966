#pragma once

#include "relay/store/relay_records.h"

#include <string>
#include <string_view>
#include <vector>

/// The relay's documents for phones and browsers: the launcher (one paired phone's Home Screen web app)
/// with its manifest, the page that confirms following a share, and the service worker that shows their
/// notifications. Pure text builders in the look of the Mac's own pages; every value is escaped where it
/// is inserted.
namespace RelayPages {

/// What the launcher shows besides where the Mac is.
struct LauncherView {
    /// The Mac checked in lately.
    bool awake = false;
    /// The phone is on the Mac's network (and is shown the launcher only because something waits).
    bool here = false;
    /// Shares sent to the phone and not yet opened, newest first.
    std::vector<RelayWaitingItem> waiting;
    /// The relay's VAPID public key, base64url, for subscribing to its notifications.
    std::string pushKey;
};

/// "/d/<macId>/<token>/" with both segments percent-encoded.
std::string launcherPath(std::string_view macId, std::string_view token);

/// The phone page of device `token` on the Mac at base address `address`, opened from the relay's app.
std::string phonePage(std::string_view address, std::string_view token);

/// The launcher of the phone with device `token`. Elsewhere than on its Mac's network: where the Mac is
/// (the Wi-Fi `ssid` it reported, or that it has not checked in lately when not `view.awake`), "Try
/// again", and a link to the phone page at the Mac's first LAN address, if any; `view.here`: "Open Tesk"
/// to that phone page instead. Arriving from pairing it shows how to add it to the Home Screen instead.
/// Either way the shares waiting for the phone, each linking to its share's stable link with the item's
/// id, and the card that turns on notifications.
std::string launcher(const RelayMac& mac, const LauncherView& view, std::string_view macId,
                     std::string_view token);

/// The launcher's web-app manifest: one compact JSON object.
std::string manifest(std::string_view macId, std::string_view token);

/// "You're following" the share titled `title`, with the card that turns on its notifications.
std::string following(std::string_view title, std::string_view pushKey);

/// The service worker script, served at "/push-worker.js".
std::string pushWorker();

} // namespace RelayPages
