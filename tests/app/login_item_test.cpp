#include "app/system/login_item.h"

#include "support/file_contents.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class LoginItemTest : public ::testing::Test {
protected:
    LoginItemTest() { config_.set(dir_.path().string()); }

    fs::path entry() const { return dir_.path() / "autostart" / "tesk.desktop"; }

    void writeEntry(const std::string& text) const {
        fs::create_directories(entry().parent_path());
        std::ofstream(entry()) << text;
    }

    /// The value of the entry's Exec line as written.
    std::string execLine() const {
        std::istringstream lines(readFile(entry()));
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("Exec=")) {
                return line.substr(5);
            }
        }
        ADD_FAILURE() << "no Exec line";
        return "";
    }

    TempDir dir_;
    ScopedEnv config_{"XDG_CONFIG_HOME"};
};

} // namespace

TEST_F(LoginItemTest, TheEntryLivesUnderTheConfigDirectory) {
    EXPECT_EQ(LoginItem::autostartFile(), entry());

    ScopedEnv home("HOME");
    home.set("/home/ann");
    config_.unset();
    EXPECT_EQ(LoginItem::autostartFile(), fs::path("/home/ann/.config/autostart/tesk.desktop"));
    config_.set("relative/config");
    EXPECT_EQ(LoginItem::autostartFile(), fs::path("/home/ann/.config/autostart/tesk.desktop"))
        << "a relative XDG_CONFIG_HOME is ignored";
    config_.set("");
    EXPECT_EQ(LoginItem::autostartFile(), fs::path("/home/ann/.config/autostart/tesk.desktop"));
}

TEST_F(LoginItemTest, EnablingWritesAnEntryThatStartsTheExecutable) {
    EXPECT_FALSE(LoginItem::isEnabled());
    LoginItem::setEnabled(true, "/opt/tesk/tesk");
    ASSERT_TRUE(fs::is_regular_file(entry())) << "the autostart directory is created";
    EXPECT_TRUE(LoginItem::isEnabled());

    const std::string text = readFile(entry());
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\n")) << text;
    for (const char* line : {"\nType=Application\n", "\nName=Tesk\n", "\nExec=/opt/tesk/tesk\n",
                             "\nIcon=tesk\n", "\nX-GNOME-Autostart-enabled=true\n", "\nComment="}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << " missing from:\n" << text;
    }
    EXPECT_EQ(fs::status(entry()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);

    LoginItem::setEnabled(true, "/usr/bin/tesk");
    EXPECT_EQ(execLine(), "/usr/bin/tesk") << "enabling again points the entry at the new executable";
}

TEST_F(LoginItemTest, ExecQuotesWhatTheDesktopWouldOtherwiseSplitOrExpand) {
    LoginItem::setEnabled(true, "/home/ann/My Apps/tesk");
    EXPECT_EQ(execLine(), R"("/home/ann/My Apps/tesk")");

    // Inside quotes ", `, $ and \ take a backslash, and every backslash is doubled once more as in any
    // string value.
    LoginItem::setEnabled(true, R"(/home/ann/$HOME "x" `y`/tesk)");
    EXPECT_EQ(execLine(), R"("/home/ann/\\$HOME \\"x\\" \\`y\\`/tesk")");
    LoginItem::setEnabled(true, R"(/home/ann/a\b/tesk)");
    EXPECT_EQ(execLine(), R"("/home/ann/a\\\\b/tesk")");

    LoginItem::setEnabled(true, "/home/ann/100%/tesk");
    EXPECT_EQ(execLine(), "/home/ann/100%%/tesk") << "a lone % would be read as a field code";
    LoginItem::setEnabled(true, "/home/ann/new\nline/tesk");
    EXPECT_EQ(execLine(), R"("/home/ann/new\nline/tesk")") << "a raw newline would end the line";
}

TEST_F(LoginItemTest, AnEntryTurnedOffByTheDesktopCountsAsOff) {
    writeEntry("[Desktop Entry]\nType=Application\nExec=tesk\nHidden=true\n");
    EXPECT_FALSE(LoginItem::isEnabled());
    writeEntry("[Desktop Entry]\nType=Application\nExec=tesk\nHidden = true\n");
    EXPECT_FALSE(LoginItem::isEnabled()) << "spaces around = are allowed";
    writeEntry("[Desktop Entry]\nExec=tesk\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(LoginItem::isEnabled());

    writeEntry("[Desktop Entry]\nType=Application\nExec=tesk\nHidden=false\n");
    EXPECT_TRUE(LoginItem::isEnabled());
    writeEntry("[Desktop Entry]\nExec=tesk\n\n[Desktop Action quit]\nHidden=true\n");
    EXPECT_TRUE(LoginItem::isEnabled()) << "only the main group speaks for the entry";
}

TEST_F(LoginItemTest, DisablingRemovesTheEntry) {
    LoginItem::setEnabled(true, "/usr/bin/tesk");
    LoginItem::setEnabled(false, "/usr/bin/tesk");
    EXPECT_FALSE(fs::exists(entry()));
    EXPECT_FALSE(LoginItem::isEnabled());
    EXPECT_NO_THROW(LoginItem::setEnabled(false, "/usr/bin/tesk")) << "already gone";
}

TEST_F(LoginItemTest, WhatCannotBeWrittenThrowsAndLeavesNothingBehind) {
    fs::create_directories(entry());
    EXPECT_FALSE(LoginItem::isEnabled()) << "a directory is no entry";
    EXPECT_THROW(LoginItem::setEnabled(true, "/usr/bin/tesk"), fs::filesystem_error);
    EXPECT_THROW(LoginItem::setEnabled(false, "/usr/bin/tesk"), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(entry())) << "an empty directory in the way is not removed";
    EXPECT_EQ(std::distance(fs::directory_iterator(entry().parent_path()), fs::directory_iterator()), 1)
        << "no temporary file is left";

    fs::remove(entry());
    fs::remove(entry().parent_path());
    std::ofstream(entry().parent_path()) << "not a directory";
    EXPECT_THROW(LoginItem::setEnabled(true, "/usr/bin/tesk"), fs::filesystem_error);
    EXPECT_FALSE(LoginItem::isEnabled());
}

TEST(LoginItemInstalledTest, OnlyExecutablesUnderUsrOrOptAreInstalled) {
    EXPECT_TRUE(LoginItem::isInstalled("/usr/bin/tesk"));
    EXPECT_TRUE(LoginItem::isInstalled("/usr/local/bin/tesk"));
    EXPECT_TRUE(LoginItem::isInstalled("/opt/tesk/tesk"));
    EXPECT_FALSE(LoginItem::isInstalled("/home/x/build/tesk"));
    EXPECT_FALSE(LoginItem::isInstalled("/usrx/bin/tesk"));
    EXPECT_FALSE(LoginItem::isInstalled("/optional/tesk"));
    EXPECT_FALSE(LoginItem::isInstalled("usr/bin/tesk")) << "relative to wherever it was started";
    EXPECT_FALSE(LoginItem::isInstalled("/usr/../home/x/tesk"));
}
