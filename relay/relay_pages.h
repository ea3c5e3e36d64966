#pragma once

#include <string>
#include <string_view>
#include <vector>

/// The relay's documents for phones and browsers: the launcher (one paired phone's Home Screen web app)
/// with its manifest, and the page that confirms following a share. Pure text builders in the look of
/// the Mac's own pages; every value is escaped where it is inserted.
namespace RelayPages {

/// "/d/<macId>/<token>/" with both segments percent-encoded.
std::string launcherPath(std::string_view macId, std::string_view token);

/// The launcher of the phone with device `token`: its script tries the Mac's `addresses` in order and
/// opens the phone page at the first that answers, else explains what to check and offers a retry.
std::string launcher(std::string_view macName, const std::vector<std::string>& addresses,
                     std::string_view macId, std::string_view token);

/// The launcher's web-app manifest: one compact JSON object.
std::string manifest(std::string_view macId, std::string_view token);

/// "You're following" the share titled `title`.
std::string following(std::string_view title);

} // namespace RelayPages
