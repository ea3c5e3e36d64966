// tesk: keeps a library of copies and shares it with the phones on the same network. A tray application
// on a desktop; with "--headless", the same program without any window.
#include "app/startup/application.h"
#include "app/startup/command_line.h"
#include "app/startup/headless_shell.h"
#include "app/system/local_network.h"
#include "app/system/stop_signals.h"
#include "app/system/system_names.h"
#include "app/system/terminal_qr.h"
#include "core/http.h"
#include "core/library_store.h"
#include "server/tesk_server.h"
#include "ui/shell/home_screen_icon.h"
#include "ui/shell/widgets_shell.h"
#include "ui/tools/demo_library.h"
#include "ui/tools/snapshot.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <iostream>
#include <memory>

namespace {

bool hasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            return true;
        }
    }
    return false;
}

Application::Options applicationOptions(const CommandLine& line) {
    Application::Options options;
    options.root = SystemNames::libraryRoot();
    if (line.ports) {
        options.ports = *line.ports;
    }
    options.openPanel = line.openPanel;
    options.previewFirst = line.previewFirst;
    options.executable = QCoreApplication::applicationFilePath().toStdString();
    return options;
}

/// Headless: where the library is shared, and a pairing code when asked.
void announce(Application& application, bool pair, bool listShares) {
    TeskServer& server = *application.server();
    const std::string host = LocalNetwork::address().value_or("127.0.0.1");
    const std::string base = HTTP::url(host, server.port());
    std::cout << "Tesk is sharing at " << base << std::endl;
    if (listShares) {
        const Library library = application.store()->snapshot();
        for (const Share& share : library.shares) {
            if (share.isActive(Date::now())) {
                std::cout << "Shared: " << library.displayName(share.target) << " at "
                          << HTTP::url(host, server.port(), "/s/" + share.token + "/") << std::endl;
            }
        }
    }
    if (pair) {
        const auto code = application.store()->newPairingCode();
        const std::string link = HTTP::url(host, server.port(), "/p/" + code.code + "/");
        std::cout << "Pair a phone within 10 minutes: open " << link << "\n"
                  << TerminalQR::render(link).value_or("") << std::flush;
    }
}

int run(QCoreApplication& app, Shell& shell, const CommandLine& line, QSettings& settings,
        Application::Options options) {
    StopSignals stopSignals;
    Application application(shell, settings, std::move(options));
    if (const auto failed = application.launch()) {
        return *failed;
    }
    if (line.headless || line.demoServer) {
        announce(application, line.pair, line.demoServer);
    }
    const int status = app.exec();
    application.shutdown();
    return status;
}

int run(QCoreApplication& app, Shell& shell, const CommandLine& line) {
    QSettings settings(QStringLiteral("Tesk"), QStringLiteral("Tesk"));
    return run(app, shell, line, settings, applicationOptions(line));
}

/// The sample library served from a temporary folder, with settings of its own, removed at the end.
int runDemoServer(QCoreApplication& app, const CommandLine& line) {
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::cerr << "Tesk couldn't make a temporary folder.\n";
        return 1;
    }
    const std::filesystem::path root = scratch.path().toStdString();
    Application::Options options = applicationOptions(line);
    options.root = root / "library";
    if (!line.ports) {
        options.ports = {};
    }
    options.executable.clear();
    try {
        Date now = Date::now();
        LibraryStore store(options.root, [&now] { return now; });
        DemoLibrary::fill(
            store, Date::now(), [&now](Date at) { now = at; }, root / "sources");
    } catch (const std::exception& error) {
        std::cerr << "Tesk couldn't make the sample library: " << error.what() << "\n";
        return 1;
    }
    QSettings settings(QString::fromStdString((root / "settings.ini").string()), QSettings::IniFormat);
    HeadlessShell shell(HomeScreenIcon::png(), line.pair);
    return run(app, shell, line, settings, std::move(options));
}

} // namespace

int main(int argc, char** argv) {
    // Before the application object starts any thread.
    StopSignals::block();

    const auto line = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!line) {
        std::cerr << CommandLine::usage;
        return 2;
    }
    if (line->snapshotDir) {
        // Pictures need no display: they are drawn offscreen.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return Snapshot::write(*line->snapshotDir);
    }
    if (line->demoServer) {
        QCoreApplication app(argc, argv);
        return runDemoServer(app, *line);
    }
    if (!line->headless && !hasDisplay()) {
        std::cerr << "Tesk needs a desktop session to show its tray icon.\n"
                     "To share without one, run: tesk --headless\n";
        return 2;
    }
    if (line->headless) {
        QCoreApplication app(argc, argv);
        HeadlessShell shell(HomeScreenIcon::png(), line->pair);
        return run(app, shell, *line);
    }
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    WidgetsShell shell;
    return run(app, shell, *line);
}
