#pragma once

#include "app/startup/command_line.h"
#include "app/startup/command_output.h"
#include "core/library_store.h"

#include <QObject>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class Application;
class LibraryStore;
class Shell;
struct Share;

/// Carries out what the command line asks of the running program: share, receive, links and stop, and a
/// second plain start. The same for this process's own command line and for one a later start handed over.
class CommandRunner : public QObject {
public:
    CommandRunner(Application& application, Shell& shell, QObject* parent = nullptr);
    ~CommandRunner() override;

    /// Relative paths are taken from `cwd`. `handedOver` is set for a later start's request.
    void run(const CommandLine& line, const std::filesystem::path& cwd, std::shared_ptr<CommandOutput> output,
             bool handedOver);

    /// links and stop on the library; the exit status. Links are shown by `link`, or by their token
    /// when no tesk serves them.
    static int listOrStop(LibraryStore& store, const CommandLine& line, CommandOutput& output,
                          const std::function<std::string(const Share&)>& link = {});
    /// Why `share` cannot take `path` ("no such file or folder", "permission denied"), checked before
    /// anything is added: nothing is unless everything can be.
    static std::optional<std::string> cannotShare(const std::filesystem::path& path);

private:
    void share(const CommandLine& line, const std::filesystem::path& cwd,
               std::shared_ptr<CommandOutput> output);
    void receive(const CommandLine& line, std::shared_ptr<CommandOutput> output);
    void greet(const CommandLine& line, CommandOutput& output);
    /// Prints the share's link, its status line and its QR code, and opens the panel on it.
    void present(const Share& share, CommandOutput& output);
    std::string link(const Share& share) const;

    Application& application_;
    Shell& shell_;
    std::stop_source stopAdds_;
};
