// The Wi-Fi name as NetworkManager gives it over D-Bus: a private bus with a scripted NetworkManager.
#include "app/system/wifi_name.h"

#include "private_bus.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMap>
#include <QMutex>
#include <QtConcurrent/QtConcurrentRun>
#include <chrono>

namespace {

using namespace std::chrono_literals;

/// Answers Properties.Get under /org/freedesktop/NetworkManager from a table, as NetworkManager would.
class FakeNetworkManager : public QDBusVirtualObject {
public:
    void set(const QString& path, const QString& name, const QVariant& value) {
        const QMutexLocker lock(&mutex_);
        properties_[path + ' ' + name] = value;
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("Get") || message.arguments().size() != 2) {
            return false;
        }
        const QMutexLocker lock(&mutex_);
        const auto found = properties_.constFind(message.path() + ' ' + message.arguments().at(1).toString());
        return connection.send(found == properties_.constEnd()
                                   ? message.createErrorReply(QDBusError::UnknownProperty, "no such property")
                                   : message.createReply(QVariant::fromValue(QDBusVariant(*found))));
    }

private:
    QMutex mutex_;
    QMap<QString, QVariant> properties_;
};

/// Asks on another thread: the fake may answer on this one's event loop.
std::string askOn(const QDBusConnection& bus) {
    auto future = QtConcurrent::run([bus] { return WifiName::current(bus); });
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!future.isFinished() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return future.result();
}

} // namespace

TEST(WifiNameTest, FollowsNetworkManagerFromDevicesToTheAccessPoint) {
    PrivateBus bus;
    if (bus.address().isEmpty()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    QDBusConnection service = QDBusConnection::connectToBus(bus.address(), "tesk-fake-network-manager");
    const QDBusConnection client = QDBusConnection::connectToBus(bus.address(), "tesk-wifi-client");
    ASSERT_TRUE(service.isConnected() && client.isConnected());
    EXPECT_EQ(askOn(client), "") << "no NetworkManager on the bus";

    FakeNetworkManager manager;
    const QString root = "/org/freedesktop/NetworkManager";
    ASSERT_TRUE(service.registerVirtualObject(root, &manager, QDBusConnection::SubPath));
    ASSERT_TRUE(service.registerService("org.freedesktop.NetworkManager"));
    const QString ethernet = root + "/Devices/1";
    const QString wifi = root + "/Devices/2";
    const QDBusObjectPath accessPoint(root + "/AccessPoint/5");
    manager.set(
        root, "Devices",
        QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(ethernet), QDBusObjectPath(wifi)}));
    manager.set(ethernet, "DeviceType", QVariant::fromValue(1u));
    manager.set(wifi, "DeviceType", QVariant::fromValue(2u));
    const std::tuple<QDBusObjectPath, QByteArray, std::string> cases[] = {
        {accessPoint, "Caf\xC3\xA9 <Home>", "Caf\u00e9 <Home>"},
        {accessPoint, "\xFF\xFE", ""},             // not UTF-8
        {QDBusObjectPath("/"), "Caf\xC3\xA9", ""}, // Wi-Fi joined to no network
    };
    for (const auto& [active, ssid, name] : cases) {
        manager.set(wifi, "ActiveAccessPoint", QVariant::fromValue(active));
        manager.set(accessPoint.path(), "Ssid", ssid);
        EXPECT_EQ(askOn(client), name);
    }
    // Without a system bus the name is empty at once.
    const ScopedEnv noSystemBus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WifiName::current(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    service.unregisterObject(root, QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus("tesk-fake-network-manager");
    QDBusConnection::disconnectFromBus("tesk-wifi-client");
}
