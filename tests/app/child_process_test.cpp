// Programs Tesk starts must not inherit its blocked stop signals or ignored SIGPIPE: a signer started
// that way could not be stopped and died silently on a closed pipe, which happened.
#include "app/system/child_process.h"

#include "app/system/shortcut_maker.h"
#include "fake_relay.h"
#include "support/file_contents.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;

namespace {

/// The "SigBlk" or "SigIgn" set of a /proc status text, as a bit mask; all ones when missing.
std::uint64_t signalSet(const std::string& status, const std::string& key) {
    std::istringstream lines(status);
    for (std::string name, hex; lines >> name >> hex;) {
        if (name == key + ":") {
            return std::stoull(hex, nullptr, 16);
        }
    }
    return ~std::uint64_t{0};
}

constexpr std::uint64_t bit(int signal) {
    return std::uint64_t{1} << (signal - 1);
}

} // namespace

TEST(ChildProcessTest, EveryWayOfStartingAProgramStartsItWithDefaultSignals) {
    TempDir dir;
    // Written by bash itself (sh clears its mask on start, which would hide the fault), into the file
    // named by its last argument: the signer's output, or the one argument of a plain start.
    const fs::path probe = dir.path() / "probe";
    std::ofstream(probe) << "#!/bin/bash\nwhile read -r key value; do\n"
                            "  case $key in SigBlk:|SigIgn:) echo \"$key $value\" ;; esac\n"
                            "done < /proc/$$/status > \"${@: -1}\"\n";
    fs::permissions(probe, fs::perms::owner_all);
    ScopedEnv signerVariable("TESK_SHORTCUT_SIGNER", probe.string());
    const std::pair<fs::path, std::function<bool()>> ways[] = {
        {dir.path() / "shortcuts" / "tok1.shortcut",
         [&] { return ShortcutMaker::make({.token = "tok1"}, dir.path(), "Mac", "myhost.local", 8080); }},
        {dir.path() / "opened",
         [&] {
             return ChildProcess::startDetached(QString::fromStdString(probe.string()),
                                                {QString::fromStdString((dir.path() / "opened").string())});
         }},
    };
    for (const auto& [report, start] : ways) {
        SCOPED_TRACE(report);
        {
            // The calling thread's signals as the running application has them.
            sigset_t stops, saved;
            sigemptyset(&stops);
            sigaddset(&stops, SIGINT);
            sigaddset(&stops, SIGTERM);
            pthread_sigmask(SIG_BLOCK, &stops, &saved);
            const auto savedPipe = std::signal(SIGPIPE, SIG_IGN);
            const bool started = start();
            std::signal(SIGPIPE, savedPipe);
            pthread_sigmask(SIG_SETMASK, &saved, nullptr);
            ASSERT_TRUE(started);
        }
        std::string status;
        ASSERT_TRUE(
            spinUntil([&] { return (status = readFile(report)).find("SigIgn") != std::string::npos; }));
        EXPECT_EQ(signalSet(status, "SigBlk") & (bit(SIGINT) | bit(SIGTERM)), 0u) << status;
        EXPECT_EQ(signalSet(status, "SigIgn") & bit(SIGPIPE), 0u) << status;
    }
    EXPECT_FALSE(ChildProcess::startDetached("/nonexistent/xdg-open", {}));
}
