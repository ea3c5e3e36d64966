// The autostart entry: where it lives, what it says, how its Exec line is quoted, and failing cleanly.
#include "app/system/login_item.h"

#include "support/file_contents.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

class LoginItemTest : public ::testing::Test {
protected:
    fs::path entry() const { return dir.path() / "autostart" / "tesk.desktop"; }
    void writeEntry(const std::string& text) const {
        fs::create_directories(entry().parent_path());
        std::ofstream(entry()) << text;
    }

    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", dir.path().string()};
};

} // namespace

TEST_F(LoginItemTest, EnablingWritesAReadableEntryThatStartsTheExecutableQuotedAsTheDesktopReadsIt) {
    EXPECT_FALSE(LoginItem::isEnabled());
    LoginItem::setEnabled(true, "/opt/tesk/tesk");
    EXPECT_TRUE(LoginItem::isEnabled());
    const std::string text = readFile(entry());
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\n")) << text;
    for (const char* line : {"\nType=Application\n", "\nName=Tesk\n", "\nExec=/opt/tesk/tesk\n",
                             "\nIcon=tesk\n", "\nX-GNOME-Autostart-enabled=true\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << " missing from:\n" << text;
    }
    EXPECT_EQ(fs::status(entry()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);

    // Inside quotes ", `, $ and \ take a backslash, and every backslash is doubled once more as in any
    // string value; a lone % would be read as a field code, a raw newline would end the line.
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/bin/tesk", "/usr/bin/tesk"},
        {"/home/ann/My Apps/tesk", R"("/home/ann/My Apps/tesk")"},
        {R"(/home/ann/$HOME "x" `y`/tesk)", R"("/home/ann/\\$HOME \\"x\\" \\`y\\`/tesk")"},
        {R"(/home/ann/a\b/tesk)", R"("/home/ann/a\\\\b/tesk")"},
        {"/home/ann/100%/tesk", "/home/ann/100%%/tesk"},
        {"/home/ann/new\nline/tesk", R"("/home/ann/new\nline/tesk")"},
    };
    for (const auto& [executable, exec] : cases) {
        LoginItem::setEnabled(true, executable);
        EXPECT_NE(readFile(entry()).find("\nExec=" + exec + "\n"), std::string::npos) << readFile(entry());
    }
}

TEST_F(LoginItemTest, AnEntryTurnedOffByTheDesktopCountsAsOff) {
    const std::pair<std::string, bool> cases[] = {
        {"[Desktop Entry]\nExec=tesk\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=tesk\nHidden = true\n", false},
        {"[Desktop Entry]\nExec=tesk\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=tesk\nHidden=false\n", true},
        {"[Desktop Entry]\nExec=tesk\n\n[Desktop Action quit]\nHidden=true\n", true},
    };
    for (const auto& [text, enabled] : cases) {
        writeEntry(text);
        EXPECT_EQ(LoginItem::isEnabled(), enabled) << text;
    }
}

TEST_F(LoginItemTest, DisablingRemovesTheEntryAndWhatCannotBeWrittenThrowsLeavingNothing) {
    LoginItem::setEnabled(true, "/usr/bin/tesk");
    LoginItem::setEnabled(false, "/usr/bin/tesk");
    EXPECT_FALSE(fs::exists(entry()));
    EXPECT_NO_THROW(LoginItem::setEnabled(false, "/usr/bin/tesk")) << "already gone";

    fs::create_directories(entry());
    EXPECT_FALSE(LoginItem::isEnabled()) << "a directory is no entry";
    EXPECT_THROW(LoginItem::setEnabled(true, "/usr/bin/tesk"), fs::filesystem_error);
    EXPECT_THROW(LoginItem::setEnabled(false, "/usr/bin/tesk"), fs::filesystem_error);
    EXPECT_EQ(std::distance(fs::directory_iterator(entry().parent_path()), fs::directory_iterator()), 1)
        << "no temporary file is left";
}
