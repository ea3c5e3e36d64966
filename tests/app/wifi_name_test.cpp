#include "app/system/wifi_name.h"

#include "private_bus.h"

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
#include <cstdlib>
#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;

/// Answers Properties.Get under /org/freedesktop/NetworkManager from a table, as NetworkManager would.
class FakeNetworkManager : public QDBusVirtualObject {
public:
    void set(const QString& path, const QString& name, const QVariant& value) {
        const QMutexLocker lock(&mutex_);
        properties_[path + QLatin1Char(' ') + name] = value;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("Get") || message.arguments().size() != 2) {
            return false;
        }
        const QMutexLocker lock(&mutex_);
        const auto found =
            properties_.constFind(message.path() + QLatin1Char(' ') + message.arguments().at(1).toString());
        connection.send(
            found == properties_.constEnd()
                ? message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("no such property"))
                : message.createReply(QVariant::fromValue(QDBusVariant(*found))));
        return true;
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

TEST(WifiNameTest, WithoutASystemBusTheNameIsEmptyAtOnce) {
    const char* saved = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::optional<std::string> restore = saved ? std::optional<std::string>(saved) : std::nullopt;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WifiName::current(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    if (restore) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", restore->c_str(), 1);
    } else {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

TEST(WifiNameTest, FollowsNetworkManagerFromDevicesToTheAccessPoint) {
    PrivateBus bus;
    if (bus.address().isEmpty()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    const QString serviceName = QStringLiteral("tesk-fake-network-manager");
    const QString clientName = QStringLiteral("tesk-wifi-client");
    QDBusConnection service = QDBusConnection::connectToBus(bus.address(), serviceName);
    const QDBusConnection client = QDBusConnection::connectToBus(bus.address(), clientName);
    ASSERT_TRUE(service.isConnected() && client.isConnected());
    EXPECT_EQ(askOn(client), "") << "no NetworkManager on the bus";

    FakeNetworkManager manager;
    ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/NetworkManager"), &manager,
                                              QDBusConnection::SubPath));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.NetworkManager")));
    const QString root = QStringLiteral("/org/freedesktop/NetworkManager");
    const QString ethernet = root + QStringLiteral("/Devices/1");
    const QString wifi = root + QStringLiteral("/Devices/2");
    const QString accessPoint = root + QStringLiteral("/AccessPoint/5");
    manager.set(
        root, QStringLiteral("Devices"),
        QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(ethernet), QDBusObjectPath(wifi)}));
    manager.set(ethernet, QStringLiteral("DeviceType"), QVariant::fromValue(1u));
    manager.set(wifi, QStringLiteral("DeviceType"), QVariant::fromValue(2u));
    manager.set(wifi, QStringLiteral("ActiveAccessPoint"), QVariant::fromValue(QDBusObjectPath(accessPoint)));
    manager.set(accessPoint, QStringLiteral("Ssid"), QByteArray("Caf\xC3\xA9 <Home>"));
    EXPECT_EQ(askOn(client), "Caf\u00e9 <Home>");

    manager.set(accessPoint, QStringLiteral("Ssid"), QByteArray("\xFF\xFE"));
    EXPECT_EQ(askOn(client), "") << "a name that is not UTF-8";

    manager.set(wifi, QStringLiteral("ActiveAccessPoint"), QVariant::fromValue(QDBusObjectPath("/")));
    EXPECT_EQ(askOn(client), "") << "Wi-Fi joined to no network";

    service.unregisterObject(root, QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus(serviceName);
    QDBusConnection::disconnectFromBus(clientName);
}
