#pragma once

#include "app/model/notifier_target.h"

#include <QDBusConnection>
#include <functional>
#include <string>

/// Desktop notifications through the freedesktop notification service, and their clicks turned back
/// into what they open. Main thread only.
namespace Notifier {

using OpenHandler = std::function<void(const Target&)>;

/// Set once at start-up; runs on the main thread when a notification is clicked.
void setOnOpen(OpenHandler handler);

/// Connects to the notification service on `bus`. Whether notifications will be shown: false without a
/// bus or without the service (registered or activatable), and then post() does nothing.
bool start(const QDBusConnection& bus = QDBusConnection::sessionBus());

/// Disconnects and forgets every posted notification (shutdown; tests).
void stop();

/// Posts one notification at once; nothing unless started with a service. Never blocks on the reply.
void post(const std::string& title, const std::string& body, const Target& opens);

} // namespace Notifier
