// Notifications over a private D-Bus with a scripted notification server.
#include "app/system/notifier.h"

#include "fake_relay.h"
#include "private_bus.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <map>

namespace {

const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");

struct NotifyCall {
    QList<QVariant> args; // app name, replaces id, icon, summary, body, actions, hints, timeout
    QString body() const { return args[4].toString(); }
    QVariantMap hints() const { return qdbus_cast<QVariantMap>(args[6].value<QDBusArgument>()); }
};

/// A notification server: answers GetCapabilities, and Notify with ids 1, 2, 3 … while recording each
/// call. Runs on a thread of its own, since the notifier asks it with blocking calls.
class FakeNotificationServer : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QLatin1String("GetCapabilities")) {
            return connection.send(
                message.createReply(QStringList{"actions", "body", "body-markup", "sound"}));
        }
        if (message.member() != QLatin1String("Notify") || message.arguments().size() != 8) {
            return false;
        }
        const QMutexLocker lock(&mutex_);
        // Answered before it is recorded, so a test that has seen the call knows the reply is on its way
        // ahead of any signal it sends next.
        connection.send(message.createReply(QVariant::fromValue(static_cast<uint>(calls_.size() + 1))));
        calls_.push_back({message.arguments()});
        return true;
    }
    std::vector<NotifyCall> calls() const {
        const QMutexLocker lock(&mutex_);
        return calls_;
    }

private:
    mutable QMutex mutex_;
    std::vector<NotifyCall> calls_;
};

class NotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus_.address().isEmpty()) {
            GTEST_SKIP() << "dbus-daemon is not available";
        }
        server_ = QDBusConnection::connectToBus(bus_.address(), QStringLiteral("tesk-notification-server"));
        client_ = QDBusConnection::connectToBus(bus_.address(), QStringLiteral("tesk-notifier"));
        ASSERT_TRUE(server_.isConnected() && client_.isConnected());
        recordOpens();
    }
    void recordOpens() {
        Notifier::setOnOpen([this](const Notifier::Target& target) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            opened_.push_back(target);
        });
    }
    void TearDown() override {
        Notifier::stop();
        Notifier::setOnOpen({});
        server_.unregisterObject(objectPath);
        thread_.quit();
        thread_.wait();
        QDBusConnection::disconnectFromBus(QStringLiteral("tesk-notification-server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("tesk-notifier"));
    }

    /// Puts a notification server on the bus.
    void serve() {
        fake_ = std::make_unique<FakeNotificationServer>();
        fake_->moveToThread(&thread_);
        thread_.start();
        ASSERT_TRUE(server_.registerVirtualObject(objectPath, fake_.get()));
        ASSERT_TRUE(server_.registerService(serviceName));
    }
    std::vector<NotifyCall> callsOnceThereAre(std::size_t count) {
        EXPECT_TRUE(spinUntil([&] { return fake_->calls().size() >= count; }));
        return fake_->calls();
    }
    /// A click on a notification's action, or its closing when `action` is empty.
    void click(uint id, const QString& action = QStringLiteral("default")) {
        auto message = QDBusMessage::createSignal(objectPath, serviceName,
                                                  action.isEmpty() ? "NotificationClosed" : "ActionInvoked");
        message.setArguments({QVariant::fromValue(id), action.isEmpty() ? QVariant::fromValue(2u) : action});
        ASSERT_TRUE(server_.send(message));
    }
    std::vector<Notifier::Target> openedOnceThereAre(std::size_t count) {
        EXPECT_TRUE(spinUntil([&] { return opened_.size() >= count; }));
        return opened_;
    }
    void post(const std::string& body, const Notifier::Target& target = Notifier::Target::item("item-1")) {
        Notifier::post("Received from Ann", body, target);
    }

    PrivateBus bus_;
    QDBusConnection server_{QString()};
    QDBusConnection client_{QString()};
    QThread thread_;
    std::unique_ptr<FakeNotificationServer> fake_;
    std::vector<Notifier::Target> opened_;
};

} // namespace

TEST_F(NotifierTest, PostsOnlyWhileStartedWithAServerEachClickOpeningItsOwnTargetUntilAStop) {
    EXPECT_FALSE(Notifier::start(client_)) << "a bus with no notification server";
    post("lost.jpg");
    // A server arriving now would get anything the failed start let through, ahead of what follows.
    serve();
    post("lost.jpg");
    ASSERT_TRUE(Notifier::start(client_));
    Notifier::post("Received from Ann <iPhone>", "a<b> & c.txt", Notifier::Target::item("item-1"));
    post("", Notifier::Target::phones());
    post("notes.txt", Notifier::Target::item("item-2"));
    const auto calls = callsOnceThereAre(3);
    EXPECT_EQ(calls.at(0).args.mid(0, 6),
              (QList<QVariant>{"Tesk", 0u, "tesk", "Received from Ann <iPhone>", "a&lt;b&gt; &amp; c.txt",
                               QStringList{"default", "Open"}}))
        << "the summary is plain text everywhere";
    EXPECT_EQ(calls[0].args[7], QVariant(-1));
    EXPECT_EQ(calls[0].hints(), (QVariantMap{{"desktop-entry", "tesk"},
                                             {"sound-name", "message-new-instant"},
                                             {"x-tesk-item", "item-1"}}));
    EXPECT_EQ(calls.at(1).hints().value("x-tesk-phones"), QVariant(true));

    // The click while no handler is set is dropped, not kept for later. A timer's start() stands in for
    // a slot that notes the click has reached the notifier's connection.
    QTimer clickSeen;
    ASSERT_TRUE(
        client_.connect(serviceName, objectPath, serviceName, "ActionInvoked", &clickSeen, SLOT(start())));
    Notifier::setOnOpen({});
    click(1);
    ASSERT_TRUE(spinUntil([&] { return clickSeen.isActive(); }));
    spinFor(50);
    recordOpens();
    // Other actions, closing and unknown notifications open nothing.
    click(1, QStringLiteral("Open"));
    click(3, QString());
    click(3);
    click(99);
    click(2);
    click(1);
    const std::vector expected{Notifier::Target::phones(), Notifier::Target::item("item-1")};
    EXPECT_EQ(openedOnceThereAre(2), expected);

    // After a stop nothing is posted, and what was posted before opens nothing.
    Notifier::stop();
    post("lost.jpg");
    ASSERT_TRUE(Notifier::start(client_));
    post("after.txt", Notifier::Target::item("item-4"));
    EXPECT_EQ(callsOnceThereAre(4).at(3).body(), "after.txt");
    // The restarted notifier hears clicks a moment after its start: click the new one until it opens.
    ASSERT_TRUE(spinUntil([&] { return click(4), spinFor(20), opened_.size() >= 3; }));
    spinFor(100);
    const std::size_t heard = opened_.size();
    click(1);
    click(4);
    EXPECT_TRUE(spinUntil([&] { return opened_.size() > heard; }));
    EXPECT_EQ(opened_.at(heard), Notifier::Target::item("item-4")) << "one posted before the stop opened";
}

TEST(NotifierActivationTest, AServerTheBusCanStartCountsAndItsFailureToStartBlocksNothing) {
    PrivateBus bus(std::map<std::string, std::string>{{"org.freedesktop.Notifications", "/bin/false"}});
    if (bus.address().isEmpty()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    const QString name = QStringLiteral("tesk-notifier-activation");
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(Notifier::start(QDBusConnection::connectToBus(bus.address(), name)));
    Notifier::post("Received from Ann", "photo.jpg", Notifier::Target::item("item-1"));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    spinFor(100);
    Notifier::stop();
    QDBusConnection::disconnectFromBus(name);
}
