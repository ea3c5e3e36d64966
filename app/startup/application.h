#pragma once

#include "app/model/app_model.h"
#include "app/startup/shell.h"

#include <QDBusConnection>
#include <QObject>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class LibraryStore;
class QSettings;
class TeskServer;

/// The running program: opens the library, starts the server, builds the model and wires it to the
/// server, the notifications and the tray, in that order. Stops the server when it goes.
class Application : public QObject {
    Q_OBJECT

public:
    struct Options {
        std::filesystem::path root;
        std::vector<std::uint16_t> ports{47470, 47471, 47472};
        /// Open the panel half a second after start.
        bool openPanel = false;
        /// Open the panel and preview the newest file half a second after start.
        bool previewFirst = false;
        AppModel::Services services{};
        /// The running program, which the desktop starts at login when asked; none turns the offer off.
        std::filesystem::path executable;
        /// Where notifications go; the session bus when unset.
        std::optional<QDBusConnection> notificationBus;
    };

    Application(Shell& shell, QSettings& settings, Options options, QObject* parent = nullptr);
    ~Application() override;

    /// Starts everything. On a failure that ends the program, shows it and returns the exit status.
    std::optional<int> launch();
    /// Stops the server: nothing else needs saving, every change is written as it happens.
    void shutdown();

    LibraryStore* store() const { return store_.get(); }
    TeskServer* server() const { return server_.get(); }
    AppModel* model() const { return model_.get(); }

private:
    int fail(const std::string& message, const std::string& detail);
    void wire();
    /// The start-up flags: the panel, and the newest file previewed.
    void actOnFlags();

    Shell& shell_;
    QSettings& settings_;
    Options options_;
    std::unique_ptr<LibraryStore> store_;
    std::unique_ptr<TeskServer> server_;
    std::unique_ptr<SharingServer> serverPort_;
    std::unique_ptr<LoginStart> login_;
    std::unique_ptr<PhoneShortcuts> shortcuts_;
    std::unique_ptr<AppModel> model_;
};
