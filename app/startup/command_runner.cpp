#include "app/startup/command_runner.h"

#include "app/model/app_model.h"
#include "app/model/main_thread.h"
#include "app/model/wording.h"
#include "app/startup/application.h"
#include "app/system/terminal_qr.h"
#include "core/http.h"
#include "core/library_store.h"
#include "server/tesk_server.h"

#include <QPointer>
#include <QThread>
#include <QtConcurrent>
#include <algorithm>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::optional<Share> activeShare(const LibraryStore& store, const ShareTarget& target) {
    return store.read([&](const Library& library, auto) -> std::optional<Share> {
        for (const Share& share : library.shares) {
            if (share.target == target && share.isActive(store.currentDate())) {
                return share;
            }
        }
        return std::nullopt;
    });
}

} // namespace

std::optional<std::string> CommandRunner::cannotShare(const fs::path& path) {
    std::error_code error;
    const auto status = fs::status(path, error);
    if (error || !fs::exists(status)) {
        return "no such file or folder";
    }
    const int needs = fs::is_directory(status) ? R_OK | X_OK : R_OK;
    if (!fs::is_directory(status) && !fs::is_regular_file(status)) {
        return "not a file or a folder";
    }
    if (::access(path.c_str(), needs) != 0) {
        return "permission denied";
    }
    return std::nullopt;
}

namespace {

void printQR(const std::string& text, CommandOutput& output) {
    std::string code = TerminalQR::render(text).value_or("");
    while (!code.empty() && code.back() == '\n') {
        code.pop_back();
    }
    if (!code.empty()) {
        output.print(code);
    }
}

/// The token of a link ("…/s/TOKEN/", with or without the address) or the token itself.
std::string tokenOf(std::string link) {
    if (const auto at = link.rfind("/s/"); at != std::string::npos) {
        link = link.substr(at + 3);
    }
    return link.substr(0, link.find_first_of("/?#"));
}

} // namespace

CommandRunner::CommandRunner(Application& application, Shell& shell, QObject* parent)
    : QObject(parent)
    , application_(application)
    , shell_(shell) {}

CommandRunner::~CommandRunner() {
    stopAdds_.request_stop();
    QThreadPool::globalInstance()->waitForDone();
}

void CommandRunner::run(const CommandLine& line, const fs::path& cwd, std::shared_ptr<CommandOutput> output,
                        bool handedOver) {
    switch (line.mode) {
    case CommandLine::Mode::share:
        if (!line.paths.empty()) {
            share(line, cwd, std::move(output));
            return;
        }
        // The menu entry with no file is a plain start.
        [[fallthrough]];
    case CommandLine::Mode::run:
        if (handedOver) {
            greet(line, *output);
        }
        output->finish(0);
        return;
    case CommandLine::Mode::receive:
        receive(line, std::move(output));
        return;
    case CommandLine::Mode::links:
    case CommandLine::Mode::stop:
        output->finish(listOrStop(*application_.store(), line, *output,
                                  [this](const Share& share) { return link(share); }));
        return;
    case CommandLine::Mode::help:
        output->print(CommandLine::help);
        output->finish(0);
        return;
    }
}

int CommandRunner::listOrStop(LibraryStore& store, const CommandLine& line, CommandOutput& output,
                              const std::function<std::string(const Share&)>& link) {
    const Library library = store.snapshot();
    const Date now = store.currentDate();
    if (line.mode == CommandLine::Mode::stop) {
        const std::string token = tokenOf(line.link);
        for (const Share& share : library.shares) {
            if (share.token == token && share.isActive(now)) {
                store.stopSharing(token);
                output.print("Link stopped");
                return 0;
            }
        }
        output.warn("tesk: no working link " + line.link);
        return 1;
    }
    for (const Share& share : library.shares) {
        if (share.isActive(now)) {
            output.print((link ? link(share) : share.token) + "  " + library.displayName(share.target) +
                         " \u00b7 " + Wording::liveShareStatus(share, now, 0));
        }
    }
    return 0;
}

void CommandRunner::greet(const CommandLine& line, CommandOutput& output) {
    const TeskServer& server = *application_.server();
    output.print("Tesk is already running, sharing at " +
                 HTTP::url(application_.model()->address().value_or("127.0.0.1"), server.port()));
    if (line.pair) {
        const auto code = application_.store()->newPairingCode();
        const std::string link = HTTP::url(application_.model()->address().value_or("127.0.0.1"),
                                           server.port(), "/p/" + code.code + "/");
        output.print("Pair a phone within 10 minutes: open " + link);
        printQR(link, output);
    }
    if (!shell_.isPanelVisible()) {
        shell_.showPanel();
    }
}

void CommandRunner::share(const CommandLine& line, const fs::path& cwd,
                          std::shared_ptr<CommandOutput> output) {
    std::vector<fs::path> paths;
    for (const std::string& given : line.paths) {
        const fs::path path = (cwd / given).lexically_normal();
        if (const auto why = cannotShare(path)) {
            output->warn("tesk: cannot share " + given + ": " + *why);
            output->finish(1);
            return;
        }
        paths.push_back(path);
    }
    // Copies can take long: they run off the main thread, as the panel's do.
    const QPointer<CommandRunner> self(this);
    (void)QtConcurrent::run([self, &store = *application_.store(), paths, line, output,
                             stop = stopAdds_.get_token()] {
        std::vector<ShareTarget> targets;
        std::size_t files = 0;
        std::string failure;
        for (const fs::path& path : paths) {
            try {
                auto added = store.addEntry(path, std::nullopt, std::nullopt, false, stop);
                files += added.items.size();
                targets.push_back(std::move(added.target));
            } catch (const std::exception& error) {
                failure = error.what();
                break;
            }
        }
        MainThread::post(self, [targets, files, failure, line, output](CommandRunner& runner) {
            LibraryStore& store = *runner.application_.store();
            if (!failure.empty()) {
                // Nothing half-done: what this command added goes again.
                for (const ShareTarget& target : targets) {
                    if (target.kind() == ShareTarget::Kind::folder) {
                        store.deleteFolder(*target.id());
                    } else {
                        store.deleteItem(*target.id());
                    }
                }
                output->warn("Couldn't add " +
                             Wording::counted(static_cast<std::int64_t>(line.paths.size()), "item", "items") +
                             ": " + failure);
                output->finish(1);
                return;
            }
            output->print("Added " + Wording::counted(static_cast<std::int64_t>(files), "file", "files") +
                          " to Tesk");
            const ShareDuration duration = line.duration.value_or(ShareDuration::day);
            std::optional<Share> share;
            if (targets.size() == 1) {
                share = store.share(targets.front(), duration, line.uploads);
            } else if ((share = store.share(targets, duration)) && share->allowsUploads != line.uploads) {
                store.setAllowsUploads(share->token, line.uploads);
            }
            if (!share) {
                output->warn("tesk: Nothing left to share");
                output->finish(1);
                return;
            }
            runner.present(*share, *output);
            output->finish(0);
        });
    });
}

void CommandRunner::receive(const CommandLine& line, std::shared_ptr<CommandOutput> output) {
    LibraryStore& store = *application_.store();
    auto share = activeShare(store, ShareTarget::inbox());
    if (!share || line.duration) {
        share = store.share(ShareTarget::inbox(), line.duration.value_or(ShareDuration::hour), true);
    }
    present(*share, *output);
    // Every file and text that arrives from now on, for as long as someone reads.
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(application_.model(), &AppModel::itemReceived, this,
                          [this, output, connection](const Item& item) {
                              if (!output->isOpen()) {
                                  disconnect(*connection);
                                  return;
                              }
                              if (item.kind == ItemKind::file) {
                                  output->print(application_.store()->filePath(item).string());
                                  return;
                              }
                              // One line an arrival, so a script can read them.
                              std::string text = item.content.value_or("");
                              std::replace(text.begin(), text.end(), '\n', ' ');
                              output->print((item.kind == ItemKind::link ? "Link: " : "Text: ") + text);
                          });
}

void CommandRunner::present(const Share& share, CommandOutput& output) {
    const Library library = application_.store()->snapshot();
    const std::string url = link(share);
    output.print(library.displayName(share.target) + ": " + url);
    if (!application_.model()->link(share)) {
        // The panel's words; the loopback link still serves this computer meanwhile.
        output.warn("Connect to Wi-Fi to share");
    }
    output.print(Wording::inspectorShareStatus(share, application_.store()->currentDate(), 0));
    printQR(url, output);
    application_.model()->inspect(share.target);
    if (!shell_.isPanelVisible()) {
        shell_.showPanel();
    }
}

std::string CommandRunner::link(const Share& share) const {
    if (auto url = application_.model()->link(share)) {
        return *url;
    }
    return HTTP::url("127.0.0.1", application_.server()->port(), "/s/" + share.token + "/");
}
