#include "app/system/wifi_name.h"

#include "core/utf8.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QVariant>
#include <optional>

namespace WifiName {
namespace {

const QString service = QStringLiteral("org.freedesktop.NetworkManager");
constexpr int timeoutMs = 500;
/// NM_DEVICE_TYPE_WIFI.
constexpr uint deviceTypeWifi = 2;

// Properties.Get rather than QDBusInterface, which introspects the object first with a blocking call of
// its own and no way to bound it.
std::optional<QVariant> property(const QDBusConnection& bus, const QString& path, const QString& interface,
                                 const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << interface << name;
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        return std::nullopt;
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

// Containers arrive still marshalled; plain values arrive as themselves.
template <typename T>
std::optional<T> unpack(const std::optional<QVariant>& value) {
    if (!value) {
        return std::nullopt;
    }
    if (value->userType() == qMetaTypeId<QDBusArgument>()) {
        return qdbus_cast<T>(value->value<QDBusArgument>());
    }
    if (value->userType() == qMetaTypeId<T>()) {
        return value->value<T>();
    }
    return std::nullopt;
}

} // namespace

std::string current(const QDBusConnection& bus) {
    if (!bus.isConnected()) {
        return "";
    }
    const auto devices = unpack<QList<QDBusObjectPath>>(
        property(bus, QStringLiteral("/org/freedesktop/NetworkManager"), service, QStringLiteral("Devices")));
    if (!devices) {
        return "";
    }
    for (const QDBusObjectPath& device : *devices) {
        const auto type =
            property(bus, device.path(), service + QStringLiteral(".Device"), QStringLiteral("DeviceType"));
        if (!type || type->toUInt() != deviceTypeWifi) {
            continue;
        }
        const auto accessPoint =
            unpack<QDBusObjectPath>(property(bus, device.path(), service + QStringLiteral(".Device.Wireless"),
                                             QStringLiteral("ActiveAccessPoint")));
        // "/" is NetworkManager's way of saying "none".
        if (!accessPoint || accessPoint->path() == QStringLiteral("/")) {
            continue;
        }
        const auto ssid = property(bus, accessPoint->path(), service + QStringLiteral(".AccessPoint"),
                                   QStringLiteral("Ssid"));
        if (!ssid) {
            continue;
        }
        const QByteArray bytes = ssid->toByteArray();
        const std::string name(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        return UTF8::isValid(name) ? name : "";
    }
    return "";
}

std::string current() {
    return current(QDBusConnection::systemBus());
}

} // namespace WifiName
