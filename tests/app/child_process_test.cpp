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

namespace fs = std::filesystem;

TEST(ChildProcessTest, EveryWayOfStartingAProgramStartsItWithDefaultSignals) {
    TempDir dir;
    // Written by bash itself (sh clears its mask on start, which would hide the fault), into the file
    // named by its last argument: the signer's output, or the one argument of a plain start. Each line
    // is the mask of SIGINT and SIGTERM blocked, then of SIGPIPE ignored.
    const fs::path probe = dir.path() / "probe";
    std::ofstream(probe)
        << "#!/bin/bash\nwhile read -r key value; do case $key in\n"
           "SigBlk:) echo $(( 0x$value & 0x4002 )) ;; SigIgn:) echo $(( 0x$value & 0x1000 )) ;;\n"
           "esac; done < /proc/$$/status > \"${@: -1}.part\"; mv \"${@: -1}.part\" \"${@: -1}\"\n";
    fs::permissions(probe, fs::perms::owner_all);
    const ScopedEnv signerVariable("TESK_SHORTCUT_SIGNER", probe.string());
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
        EXPECT_TRUE(spinUntil([&] { return fs::exists(report); }));
        EXPECT_EQ(readFile(report), "0\n0\n") << report;
    }
    EXPECT_FALSE(ChildProcess::startDetached("/nonexistent/xdg-open", {}));
}
