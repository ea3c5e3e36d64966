#pragma once

#include <QDBusConnection>
#include <string>

/// The name of the Wi-Fi network the computer has joined, as NetworkManager knows it.
namespace WifiName {

/// The SSID of the first Wi-Fi device with an active access point, asked of NetworkManager on `bus`;
/// "" when there is no such bus, service, device or access point, or the name is not UTF-8. Each
/// question waits at most half a second.
std::string current(const QDBusConnection& bus);

/// The same, asked on the system bus.
std::string current();

} // namespace WifiName
