#include "app/system/notifier.h"

#include "app/model/main_thread.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <map>
#include <optional>
#include <utility>

namespace Notifier {
namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");
/// For the questions asked once at start; the bus daemon and a healthy notification server answer at once.
constexpr int startTimeoutMs = 1000;

OpenHandler onOpen;

/// A blocking call with a bounded wait; nullopt when it failed or timed out.
std::optional<QList<QVariant>> ask(const QDBusConnection& bus, const QDBusMessage& call) {
    const QDBusMessage reply = bus.call(call, QDBus::Block, startTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return std::nullopt;
    }
    return reply.arguments();
}

QDBusMessage busCall(const QString& method) {
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                          QStringLiteral("/org/freedesktop/DBus"),
                                          QStringLiteral("org.freedesktop.DBus"), method);
}

/// Whether a notification server runs now or the bus would start one on the first call.
bool hasService(const QDBusConnection& bus) {
    QDBusMessage hasOwner = busCall(QStringLiteral("NameHasOwner"));
    hasOwner << service;
    if (const auto running = ask(bus, hasOwner);
        running && !running->isEmpty() && running->first().toBool()) {
        return true;
    }
    const auto activatable = ask(bus, busCall(QStringLiteral("ListActivatableNames")));
    return activatable && !activatable->isEmpty() && activatable->first().toStringList().contains(service);
}

/// Servers that advertise "body-markup" read the body as a small HTML subset, so a file named "a<b>.txt"
/// would lose its "<b>" and embolden the rest. Those get the text with &, < and > escaped; servers
/// without markup show the body as it is, so escaping there would print "&lt;" instead. When the server
/// does not say, assume markup: every common desktop's server has it.
bool readsMarkup(const QDBusConnection& bus) {
    const auto capabilities = ask(bus, QDBusMessage::createMethodCall(service, objectPath, interface,
                                                                      QStringLiteral("GetCapabilities")));
    if (!capabilities || capabilities->isEmpty()) {
        return true;
    }
    return capabilities->first().toStringList().contains(QStringLiteral("body-markup"));
}

QString markupEscaped(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('&')) {
            escaped += QStringLiteral("&amp;");
        } else if (c == QLatin1Char('<')) {
            escaped += QStringLiteral("&lt;");
        } else if (c == QLatin1Char('>')) {
            escaped += QStringLiteral("&gt;");
        } else {
            escaped += c;
        }
    }
    return escaped;
}

/// The connection to one notification server: posts, and turns its signals back into targets. Lives on
/// the main thread, owned by the application object so it never outlives the bus machinery.
class Listener : public QObject {
    Q_OBJECT

public:
    Listener(const QDBusConnection& bus, bool markup)
        : QObject(QCoreApplication::instance())
        , bus_(bus)
        , markup_(markup) {}

    ~Listener() override {
        bus_.disconnect(service, objectPath, interface, QStringLiteral("ActionInvoked"), this,
                        SLOT(actionInvoked(uint, QString)));
        bus_.disconnect(service, objectPath, interface, QStringLiteral("NotificationClosed"), this,
                        SLOT(notificationClosed(uint, uint)));
    }

    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool listen() {
        return bus_.connect(service, objectPath, interface, QStringLiteral("ActionInvoked"), this,
                            SLOT(actionInvoked(uint, QString))) &&
               bus_.connect(service, objectPath, interface, QStringLiteral("NotificationClosed"), this,
                            SLOT(notificationClosed(uint, uint)));
    }

    void post(const std::string& title, const std::string& body, const Target& opens) {
        QVariantMap hints{
            {QStringLiteral("desktop-entry"), QStringLiteral("tesk")},
            {QStringLiteral("sound-name"), QStringLiteral("message-new-instant")},
        };
        if (opens.kind() == Target::Kind::item) {
            hints.insert(QStringLiteral("x-tesk-item"), QString::fromStdString(opens.itemID().value_or("")));
        } else {
            hints.insert(QStringLiteral("x-tesk-phones"), true);
        }
        const QString text = QString::fromStdString(body);
        QDBusMessage notify =
            QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("Notify"));
        notify << QStringLiteral("Tesk") << 0u << QStringLiteral("tesk") << QString::fromStdString(title)
               << (markup_ ? markupEscaped(text) : text) << QStringList{defaultAction, QStringLiteral("Open")}
               << hints << -1;

        // The server's id arrives with the reply; only then can a click be matched to its target.
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(notify), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, opens](QDBusPendingCallWatcher* call) {
                    const QDBusPendingReply<uint> reply = *call;
                    if (reply.isValid()) {
                        posted_.insert_or_assign(reply.value(), opens);
                    }
                    call->deleteLater();
                });
    }

public slots:
    void actionInvoked(uint id, const QString& action) {
        if (action != defaultAction) {
            return;
        }
        const auto found = posted_.find(id);
        if (found == posted_.end()) {
            return;
        }
        // Queued, so the handler never runs inside D-Bus signal delivery and may do anything.
        MainThread::post(QPointer<Listener>(this), [target = found->second](Listener&) {
            if (onOpen) {
                onOpen(target);
            }
        });
    }

    void notificationClosed(uint id, uint /*reason*/) { posted_.erase(id); }

private:
    QDBusConnection bus_;
    bool markup_;
    /// What each notification still on screen opens, by the server's id.
    std::map<uint, Target> posted_;
};

QPointer<Listener> listener;

} // namespace

void setOnOpen(OpenHandler handler) {
    onOpen = std::move(handler);
}

bool start(const QDBusConnection& bus) {
    stop();
    if (!QCoreApplication::instance() || !bus.isConnected() || !hasService(bus)) {
        return false;
    }
    listener = new Listener(bus, readsMarkup(bus));
    if (!listener->listen()) {
        stop();
        return false;
    }
    return true;
}

void stop() {
    // The application object owns the listener; this ends it early.
    delete listener.data();
}

void post(const std::string& title, const std::string& body, const Target& opens) {
    if (listener) {
        listener->post(title, body, opens);
    }
}

} // namespace Notifier

#include "notifier.moc"
