#include "app/startup/application.h"

#include "app/startup/server_adapter.h"
#include "app/system/login_item.h"
#include "app/system/notifier.h"
#include "app/system/shortcut_maker.h"
#include "app/system/system_names.h"
#include "core/library_store.h"
#include "server/tesk_server.h"

#include <QPointer>
#include <QTimer>
#include <iostream>

namespace {

/// How long after start the start-up flags act, so that the tray icon has found its place.
constexpr std::chrono::milliseconds flagDelay{500};

} // namespace

Application::Application(Shell& shell, QSettings& settings, Options options, QObject* parent)
    : QObject(parent)
    , shell_(shell)
    , settings_(settings)
    , options_(std::move(options)) {}

Application::~Application() {
    shutdown();
    Notifier::setOnOpen({});
    Notifier::stop();
    // The views go before the model they show.
    shell_.destroyStatusItem();
    model_.reset();
    server_.reset();
}

std::optional<int> Application::launch() {
    try {
        store_ = std::make_unique<LibraryStore>(options_.root);
    } catch (const std::exception& error) {
        return fail("Tesk couldn't open its library at " + options_.root.string() + ".", error.what());
    }
    server_ = std::make_unique<TeskServer>(*store_, SystemNames::computerName());
    try {
        server_->start(options_.ports);
    } catch (const std::exception& error) {
        return fail("Tesk couldn't start sharing on this network.", error.what());
    }
    server_->setLocalHostName(SystemNames::localHostName());
    wire();
    return std::nullopt;
}

void Application::shutdown() {
    if (server_) {
        server_->stop();
    }
}

int Application::fail(const std::string& message, const std::string& detail) {
    std::cerr << message << "\n" << detail << std::endl;
    shell_.showFatal(message, detail);
    return 1;
}

void Application::wire() {
    server_->setIconPNG(shell_.homeScreenIcon());
    // Without a signing command no shortcut is ever made, so phones are not offered one.
    server_->setOffersShareSheet(ShortcutMaker::signer().has_value());
    serverPort_ = std::make_unique<ServerAdapter>(*server_);
    login_ = std::make_unique<DesktopLoginItem>(options_.executable);
    shortcuts_ = std::make_unique<ShortcutFiles>(store_->root);
    model_ = std::make_unique<AppModel>(
        *store_, AppModel::Ports{shell_.platform(), *serverPort_, *login_, *shortcuts_}, settings_,
        options_.services);
    server_->setOnEvent([this, forward = model_->serverEventHandler()](const ServerEvent& event) {
        shell_.observe(event);
        forward(event);
    });
    shell_.createStatusItem(*model_);
    if (options_.openPanel || options_.previewFirst) {
        QTimer::singleShot(flagDelay, this, &Application::actOnFlags);
    }
    Notifier::setOnOpen([model = QPointer<AppModel>(model_.get())](const Notifier::Target& target) {
        if (!model) {
            return;
        }
        if (target.kind() == Notifier::Target::Kind::item) {
            model->showItem(*target.itemID());
        } else {
            model->showPhones();
        }
    });
    Notifier::start(options_.notificationBus.value_or(QDBusConnection::sessionBus()));
    model_->openAtLoginOnFirstRun();
}

void Application::actOnFlags() {
    // Both flags together, or one given twice, open the panel once: the second finds it open.
    if (!shell_.isPanelVisible()) {
        shell_.showPanel();
    }
    if (!options_.previewFirst) {
        return;
    }
    for (const auto& item : model_->library().allItemsNewestFirst()) {
        if (item.kind == ItemKind::file) {
            model_->quickLook(item);
            return;
        }
    }
}
