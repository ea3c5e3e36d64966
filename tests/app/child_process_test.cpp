#include "app/system/child_process.h"

#include "app/system/shortcut_maker.h"
#include "fake_relay.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

/// The calling thread's signals as the running application has them: the stop signals blocked, broken
/// pipes ignored. Put back when the object goes.
class SignalsAsInTesk {
public:
    SignalsAsInTesk() {
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGINT);
        sigaddset(&stops, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stops, &savedMask_);
        savedPipe_ = std::signal(SIGPIPE, SIG_IGN);
    }
    ~SignalsAsInTesk() {
        std::signal(SIGPIPE, savedPipe_);
        pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
    }
    SignalsAsInTesk(const SignalsAsInTesk&) = delete;
    SignalsAsInTesk& operator=(const SignalsAsInTesk&) = delete;

private:
    sigset_t savedMask_;
    void (*savedPipe_)(int);
};

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

    const PairedDevice phone{.id = "d1", .name = "Ana's iPhone", .token = "tok1"};
    const struct {
        const char* way;
        fs::path report;
        std::function<bool()> start;
    } cases[] = {
        {"the shortcut signer", dir.path() / "shortcuts" / "tok1.shortcut",
         [&] { return ShortcutMaker::make(phone, dir.path(), "Mac", "myhost.local", 8080); }},
        {"a program opened for the desktop", dir.path() / "opened",
         [&] {
             return ChildProcess::startDetached(QString::fromStdString(probe.string()),
                                                {QString::fromStdString((dir.path() / "opened").string())});
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.way);
        {
            const SignalsAsInTesk asInTesk;
            ASSERT_TRUE(c.start());
        }
        std::string status;
        ASSERT_TRUE(spinUntil([&] {
            std::ifstream file(c.report);
            status.assign(std::istreambuf_iterator<char>(file), {});
            return status.find("SigIgn") != std::string::npos;
        }));
        EXPECT_EQ(signalSet(status, "SigBlk") & (bit(SIGINT) | bit(SIGTERM)), 0u) << status;
        EXPECT_EQ(signalSet(status, "SigIgn") & bit(SIGPIPE), 0u) << status;
    }
}

TEST(ChildProcessTest, AProgramThatIsNotThereIsNotStarted) {
    EXPECT_FALSE(ChildProcess::startDetached(QStringLiteral("/nonexistent/xdg-open"), {}));
}
