#include "app/system/notifier.h"

#include "app/startup/application.h"
#include "app/startup/headless_shell.h"
#include "core/library_store.h"
#include "fake_relay.h"
#include "private_bus.h"
#include "server/tesk_server.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QSettings>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <chrono>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable failure messages.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
namespace Notifier {
static void PrintTo(const Target& target, std::ostream* out) {
    *out << (target.kind() == Target::Kind::phones ? "phones" : "item(" + target.itemID().value_or("") + ")");
}
} // namespace Notifier

namespace {

const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString interfaceName = QStringLiteral("org.freedesktop.Notifications");

struct NotifyCall {
    uint id = 0;
    QString appName;
    uint replacesID = 0;
    QString icon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int timeout = 0;
};

/// A notification server: answers GetCapabilities, and Notify with ids 1, 2, 3 … while recording each
/// call. Meant to run on a thread of its own, since the notifier asks it with blocking calls.
class FakeNotificationServer : public QDBusVirtualObject {
public:
    explicit FakeNotificationServer(QStringList capabilities)
        : capabilities_(std::move(capabilities)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != interfaceName) {
            return false;
        }
        if (message.member() == QLatin1String("GetCapabilities")) {
            connection.send(message.createReply(capabilities_));
            return true;
        }
        const QList<QVariant> args = message.arguments();
        if (message.member() != QLatin1String("Notify") || args.size() != 8) {
            return false;
        }
        NotifyCall call{0,
                        args[0].toString(),
                        args[1].toUInt(),
                        args[2].toString(),
                        args[3].toString(),
                        args[4].toString(),
                        args[5].toStringList(),
                        qdbus_cast<QVariantMap>(args[6].value<QDBusArgument>()),
                        args[7].toInt()};
        {
            const QMutexLocker lock(&mutex_);
            call.id = ++lastID_;
        }
        // Answered before it is recorded, so a test that has seen the call knows the reply is on its way
        // ahead of any signal it sends next.
        connection.send(message.createReply(QVariant::fromValue(call.id)));
        const QMutexLocker lock(&mutex_);
        calls_.push_back(std::move(call));
        return true;
    }

    std::vector<NotifyCall> calls() const {
        const QMutexLocker lock(&mutex_);
        return calls_;
    }

private:
    const QStringList capabilities_;
    mutable QMutex mutex_;
    uint lastID_ = 0;
    std::vector<NotifyCall> calls_;
};

/// Counts the clicks its connection has received, so a test knows a click reached the notifier's
/// connection even when the notifier shows nothing for it.
class ClickCounter : public QObject {
    Q_OBJECT

public:
    int count = 0;

public slots:
    void seen() { ++count; }
};

const QStringList withMarkup{QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup"),
                             QStringLiteral("sound")};

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
        if (fake_) {
            server_.unregisterService(serviceName);
            server_.unregisterObject(objectPath);
        }
        thread_.quit();
        thread_.wait();
        QDBusConnection::disconnectFromBus(QStringLiteral("tesk-notification-server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("tesk-notifier"));
    }

    /// Puts a notification server on the bus.
    void serve(const QStringList& capabilities = withMarkup) {
        fake_ = std::make_unique<FakeNotificationServer>(capabilities);
        fake_->moveToThread(&thread_);
        thread_.start();
        ASSERT_TRUE(server_.registerVirtualObject(objectPath, fake_.get()));
        ASSERT_TRUE(server_.registerService(serviceName));
    }

    std::vector<NotifyCall> callsOnceThereAre(std::size_t count) {
        EXPECT_TRUE(spinUntil([&] { return fake_->calls().size() >= count; }));
        return fake_->calls();
    }

    void emitSignal(const QString& name, const QList<QVariant>& arguments) {
        QDBusMessage message = QDBusMessage::createSignal(objectPath, interfaceName, name);
        message.setArguments(arguments);
        ASSERT_TRUE(server_.send(message));
    }
    void click(uint id, const QString& action = QStringLiteral("default")) {
        emitSignal(QStringLiteral("ActionInvoked"), {QVariant::fromValue(id), action});
    }
    void close(uint id) {
        emitSignal(QStringLiteral("NotificationClosed"), {QVariant::fromValue(id), QVariant::fromValue(2u)});
    }

    std::vector<Notifier::Target> openedOnceThereAre(std::size_t count) {
        EXPECT_TRUE(spinUntil([&] { return opened_.size() >= count; }));
        return opened_;
    }

    PrivateBus bus_;
    QDBusConnection server_{QString()};
    QDBusConnection client_{QString()};
    QThread thread_;
    std::unique_ptr<FakeNotificationServer> fake_;
    std::vector<Notifier::Target> opened_;
};

} // namespace

TEST_F(NotifierTest, PostSendsTheNotificationWithItsTargetInTheHints) {
    serve();
    ASSERT_TRUE(Notifier::start(client_));
    Notifier::post("Received from Ann <iPhone>", "a<b> & c.txt", Notifier::Target::item("item-1"));
    Notifier::post("Ann's iPhone is paired", "It can now send to this computer from its Home Screen.",
                   Notifier::Target::phones());

    const auto calls = callsOnceThereAre(2);
    ASSERT_EQ(calls.size(), 2u);
    const NotifyCall& received = calls[0];
    EXPECT_EQ(received.appName, "Tesk");
    EXPECT_EQ(received.replacesID, 0u);
    EXPECT_EQ(received.icon, "tesk");
    EXPECT_EQ(received.summary, "Received from Ann <iPhone>") << "the summary is plain text everywhere";
    EXPECT_EQ(received.body, "a&lt;b&gt; &amp; c.txt");
    EXPECT_EQ(received.actions, (QStringList{"default", "Open"}));
    EXPECT_EQ(received.hints, (QVariantMap{{"desktop-entry", "tesk"},
                                           {"sound-name", "message-new-instant"},
                                           {"x-tesk-item", "item-1"}}));
    EXPECT_EQ(received.timeout, -1);

    EXPECT_EQ(calls[1].summary, "Ann's iPhone is paired");
    EXPECT_EQ(calls[1].body, "It can now send to this computer from its Home Screen.");
    EXPECT_EQ(calls[1].hints, (QVariantMap{{"desktop-entry", "tesk"},
                                           {"sound-name", "message-new-instant"},
                                           {"x-tesk-phones", true}}));
}

TEST_F(NotifierTest, AServerWithoutMarkupGetsTheBodyAsItIs) {
    serve({QStringLiteral("actions"), QStringLiteral("body")});
    ASSERT_TRUE(Notifier::start(client_));
    Notifier::post("Received from Ann", "a<b> & c.txt", Notifier::Target::item("item-1"));
    EXPECT_EQ(callsOnceThereAre(1).at(0).body, "a<b> & c.txt");
}

TEST_F(NotifierTest, EachClickOpensItsOwnNotificationsTarget) {
    serve();
    ASSERT_TRUE(Notifier::start(client_));
    Notifier::post("Received from Ann", "photo.jpg", Notifier::Target::item("item-1"));
    Notifier::post("Ann's iPhone is paired", "", Notifier::Target::phones());
    Notifier::post("Received from Bob", "notes.txt", Notifier::Target::item("item-2"));
    const auto calls = callsOnceThereAre(3);
    ASSERT_EQ(calls.size(), 3u);
    ASSERT_EQ(calls[0].id, 1u);
    ASSERT_EQ(calls[1].id, 2u);

    ClickCounter clicks;
    ASSERT_TRUE(client_.connect(serviceName, objectPath, interfaceName, QStringLiteral("ActionInvoked"),
                                &clicks, SLOT(seen())));
    Notifier::setOnOpen({});
    click(1);
    ASSERT_TRUE(spinUntil([&] { return clicks.count == 1; }));
    spinFor(50);
    recordOpens();
    click(2);
    click(3);
    click(1);
    // The click while no handler was set is dropped, not kept for later.
    EXPECT_EQ(openedOnceThereAre(3),
              (std::vector{Notifier::Target::phones(), Notifier::Target::item("item-2"),
                           Notifier::Target::item("item-1")}));
}

TEST_F(NotifierTest, OtherActionsClosedAndUnknownNotificationsOpenNothing) {
    serve();
    ASSERT_TRUE(Notifier::start(client_));
    Notifier::post("Received from Ann", "photo.jpg", Notifier::Target::item("item-1"));
    Notifier::post("Received from Bob", "notes.txt", Notifier::Target::item("item-2"));
    callsOnceThereAre(2);

    click(1, QStringLiteral("Open"));
    close(1);
    click(1);
    click(99);
    // Signals arrive in order: once this one has opened, the ones before it have been handled.
    click(2);
    EXPECT_EQ(openedOnceThereAre(1), std::vector{Notifier::Target::item("item-2")});
    spinFor(50);
    EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(NotifierTest, WithoutTheServiceNothingIsPosted) {
    QDBusConnection nowhere = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"),
                                                            QStringLiteral("tesk-no-bus"));
    EXPECT_FALSE(Notifier::start(nowhere));
    QDBusConnection::disconnectFromBus(QStringLiteral("tesk-no-bus"));

    EXPECT_FALSE(Notifier::start(client_)) << "a bus with no notification server";
    Notifier::post("Received from Ann", "photo.jpg", Notifier::Target::item("item-1"));

    // A server arriving now would get anything the failed start let through, ahead of what follows.
    serve();
    Notifier::post("Received from Ann", "lost.jpg", Notifier::Target::item("item-1"));
    ASSERT_TRUE(Notifier::start(client_));
    Notifier::post("Received from Bob", "notes.txt", Notifier::Target::item("item-2"));
    const auto calls = callsOnceThereAre(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].body, "notes.txt");
}

TEST_F(NotifierTest, StopSilencesAndForgetsEveryNotification) {
    serve();
    ASSERT_TRUE(Notifier::start(client_));
    Notifier::post("Received from Ann", "photo.jpg", Notifier::Target::item("item-1"));
    callsOnceThereAre(1);
    Notifier::stop();
    Notifier::post("Received from Ann", "lost.jpg", Notifier::Target::item("item-1"));
    click(1);

    ASSERT_TRUE(Notifier::start(client_));
    Notifier::post("Received from Bob", "notes.txt", Notifier::Target::item("item-2"));
    const auto calls = callsOnceThereAre(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].body, "notes.txt") << "nothing was sent while stopped";

    click(1);
    click(2);
    EXPECT_EQ(openedOnceThereAre(1), std::vector{Notifier::Target::item("item-2")})
        << "a notification from before the stop opens nothing";
}

TEST(NotifierActivationTest, AServerTheBusCanStartCounts) {
    PrivateBus bus(std::map<std::string, std::string>{{"org.freedesktop.Notifications", "/bin/false"}});
    if (bus.address().isEmpty()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    const QString name = QStringLiteral("tesk-notifier-activation");
    const QDBusConnection client = QDBusConnection::connectToBus(bus.address(), name);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(Notifier::start(client)) << "not running yet, but the bus would start it";
    // The server fails to start; that error, like any other, is ignored.
    Notifier::post("Received from Ann", "photo.jpg", Notifier::Target::item("item-1"));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    spinFor(100);
    Notifier::stop();
    QDBusConnection::disconnectFromBus(name);
}

#include "notifier_test.moc"

TEST_F(NotifierTest, AFileFromAPhoneIsAnnouncedAndItsNotificationRevealsIt) {
    serve();
    TempDir dir;
    QSettings settings(QString::fromStdString((dir.path() / "settings.ini").string()), QSettings::IniFormat);
    HeadlessShell shell(std::nullopt, false);
    Application::Options options;
    options.root = dir.path() / "Tesk";
    options.ports = {};
    options.services.relayHosts = {};
    options.services.watchNetwork = false;
    options.services.address = [] { return std::optional<std::string>("192.168.1.20"); };
    options.notificationBus = client_;
    Application application(shell, settings, options);
    ASSERT_EQ(application.launch(), std::nullopt);
    AppModel& model = *application.model();

    const Share inbox = application.store()->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const std::string body = "beach";
    const std::string reply = request(application.server()->port(),
                                      "POST /s/" + inbox.token +
                                          "/upload HTTP/1.1\r\nHost: test\r\nX-Tesk-Name: beach.jpg\r\n"
                                          "X-Tesk-Device: Ann's iPhone\r\nContent-Length: " +
                                          std::to_string(body.size()) + "\r\n\r\n" + body);
    ASSERT_TRUE(reply.starts_with("HTTP/1.1 201")) << reply;

    const auto calls = callsOnceThereAre(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].summary, "Received from Ann's iPhone");
    EXPECT_EQ(calls[0].body, "beach.jpg");
    const auto received = application.store()->snapshot().receivedItems();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(calls[0].hints.value("x-tesk-item").toString().toStdString(), received[0].id);

    model.setSelection(SidebarSelection::shared());
    const int reveals = model.revealRequest();
    click(calls[0].id);
    ASSERT_TRUE(spinUntil([&] { return model.revealRequest() == reveals + 1; }));
    EXPECT_EQ(model.revealedID(), received[0].id);
    EXPECT_EQ(model.selection(), SidebarSelection::folder(*received[0].folderID));
    EXPECT_EQ(model.picked(), std::vector{ShareTarget::item(received[0].id)});
}
