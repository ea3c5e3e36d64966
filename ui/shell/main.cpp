// tesk: keeps a library of copies and shares it with the phones on the same network. A tray application
// on a desktop; with "--headless", the same program without any window.
#include "app/startup/application.h"
#include "app/startup/command_line.h"
#include "app/startup/command_runner.h"
#include "app/startup/console_output.h"
#include "app/startup/headless_shell.h"
#include "app/startup/instance_server.h"
#include "app/startup/single_instance.h"
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
#include <thread>

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

/// The request a later start hands over: its arguments and folder, percent-encoded, as file names need
/// not be UTF-8.
nlohmann::json request(const std::vector<std::string>& arguments) {
    nlohmann::json encoded = nlohmann::json::array();
    for (const std::string& argument : arguments) {
        encoded.push_back(HTTP::percentEncoded(argument));
    }
    std::error_code error;
    return {{"arguments", encoded},
            {"cwd", HTTP::percentEncoded(std::filesystem::current_path(error).string())}};
}

/// Carries out a request from a later start.
void answer(CommandRunner& runner, const nlohmann::json& request, std::shared_ptr<CommandOutput> output) {
    std::vector<std::string> arguments;
    std::optional<std::string> cwd;
    try {
        for (const auto& argument : request.at("arguments")) {
            arguments.push_back(HTTP::percentDecoded(argument.get<std::string>()).value_or(""));
        }
        cwd = HTTP::percentDecoded(request.at("cwd").get<std::string>());
        runner.run(CommandLine::parse(arguments), cwd.value_or("/"), output, true);
    } catch (const CommandLineError& error) {
        output->warn(std::string("tesk: ") + error.what());
        output->finish(2);
    } catch (const nlohmann::json::exception&) {
        output->warn("tesk: the running Tesk could not read the request");
        output->finish(2);
    }
}

int run(QCoreApplication& app, Shell& shell, const CommandLine& line, QSettings& settings,
        Application::Options options, SingleInstance* instance = nullptr) {
    StopSignals stopSignals;
    Application application(shell, settings, std::move(options));
    if (const auto failed = application.launch()) {
        return *failed;
    }
    if (line.headless || line.demoServer) {
        announce(application, line.pair, line.demoServer);
    }
    CommandRunner runner(application, shell);
    InstanceServer instanceServer(
        [&runner](const nlohmann::json& request, std::shared_ptr<CommandOutput> output) {
            answer(runner, request, std::move(output));
        });
    if (instance) {
        try {
            instanceServer.listen(instance->socketPath());
        } catch (const std::exception& error) {
            // Later starts cannot reach this one; it still serves.
            std::cerr << "tesk: " << error.what() << std::endl;
        }
    }
    // This start's own command; a failed one ends the program with its status.
    if (line.mode != CommandLine::Mode::run) {
        std::error_code error;
        runner.run(line, std::filesystem::current_path(error),
                   std::make_shared<ConsoleOutput>([&app](int status) {
                       if (status != 0) {
                           QMetaObject::invokeMethod(
                               &app, [&app, status] { app.exit(status); }, Qt::QueuedConnection);
                       }
                   }),
                   false);
    }
    const int status = app.exec();
    application.shutdown();
    return status;
}

int run(QCoreApplication& app, Shell& shell, const CommandLine& line, SingleInstance& instance) {
    QSettings settings(QStringLiteral("Tesk"), QStringLiteral("Tesk"));
    return run(app, shell, line, settings, applicationOptions(line), &instance);
}

/// Hands the command line to the tesk already running for this library: its exit status; nothing when
/// this process is now the one, holding the lock.
std::optional<int> handOver(SingleInstance& instance, const std::vector<std::string>& arguments) {
    using namespace std::chrono_literals;
    const nlohmann::json message = request(arguments);
    // Another start may hold the lock and not listen yet: give it time to open its library.
    for (int attempt = 0; attempt < 150; ++attempt) {
        if (const auto status = instance.handOver(message, std::cout, std::cerr)) {
            return status;
        }
        if (instance.tryLock()) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(100ms);
    }
    std::cerr << "tesk: another Tesk is starting for this library but does not answer\n";
    return 1;
}

/// links and stop without a running tesk: straight on the library.
int runOffline(const CommandLine& line) {
    const std::filesystem::path root = SystemNames::libraryRoot();
    try {
        LibraryStore store(root);
        ConsoleOutput output;
        return CommandRunner::listOrStop(store, line, output);
    } catch (const std::exception& error) {
        std::cerr << "Tesk couldn't open its library at " << root.string() << ".\n" << error.what() << "\n";
        return 1;
    }
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
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    CommandLine line;
    try {
        line = CommandLine::parse(arguments);
    } catch (const CommandLineError& error) {
        std::cerr << "tesk: " << error.what() << "\n" << CommandLine::usage;
        return 2;
    }
    if (line.mode == CommandLine::Mode::help) {
        std::cout << CommandLine::help;
        return 0;
    }
    if (line.snapshotDir) {
        // Pictures need no display: they are drawn offscreen.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return Snapshot::write(*line.snapshotDir);
    }
    if (line.demoServer) {
        StopSignals::block();
        QCoreApplication app(argc, argv);
        return runDemoServer(app, line);
    }

    for (const std::string& path : line.paths) {
        if (const auto why = CommandRunner::cannotShare(std::filesystem::absolute(path))) {
            std::cerr << "tesk: cannot share " << path << ": " << *why << "\n";
            return 1;
        }
    }

    // One tesk per library: a later start hands its command to the running one. Until this process
    // serves, Ctrl-C simply ends it.
    std::optional<SingleInstance> instance;
    try {
        instance.emplace(SystemNames::libraryRoot());
    } catch (const std::exception& error) {
        std::cerr << "tesk: " << error.what() << "\n";
        return 1;
    }
    if (const auto status = handOver(*instance, arguments)) {
        return *status;
    }
    // Before the application object starts any thread.
    StopSignals::block();
    if (line.mode == CommandLine::Mode::links || line.mode == CommandLine::Mode::stop) {
        return runOffline(line);
    }
    const bool sharing = (line.mode == CommandLine::Mode::share && !line.paths.empty()) ||
                         line.mode == CommandLine::Mode::receive;
    // Sharing from a terminal without a desktop serves in the foreground, as --headless does.
    if (!line.headless && !hasDisplay() && sharing) {
        line.headless = true;
    }
    if (!line.headless && !hasDisplay()) {
        std::cerr << "Tesk needs a desktop session to show its tray icon.\n"
                     "To share without one, run: tesk --headless\n";
        return 2;
    }
    if (line.headless) {
        QCoreApplication app(argc, argv);
        HeadlessShell shell(HomeScreenIcon::png(), line.pair);
        return run(app, shell, line, *instance);
    }
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    WidgetsShell shell;
    return run(app, shell, line, *instance);
}
