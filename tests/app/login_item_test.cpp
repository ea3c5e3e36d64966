// The autostart entry: what it says, how its Exec line is quoted, when the desktop counts it off, and
// failing cleanly.
#include "app/system/login_item.h"

#include "support/file_contents.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

TEST(LoginItemTest, AQuotedEntryOffWhenTheDesktopSaysFailingCleanlyAndOnlyForAnInstalledCopy) {
    TempDir dir;
    const ScopedEnv config{"XDG_CONFIG_HOME", dir.path().string()};
    const fs::path entry = dir.path() / "autostart" / "tesk.desktop";
    // Inside quotes ", `, $ and \ take a backslash, and every backslash is doubled once more as in any
    // string value; a lone % would be read as a field code, a raw newline would end the line.
    const std::pair<std::string, std::string> cases[] = {
        {R"(/home/ann/$HOME "x" `y`/tesk)", R"("/home/ann/\\$HOME \\"x\\" \\`y\\`/tesk")"},
        {R"(/home/ann/a\b/tesk)", R"("/home/ann/a\\\\b/tesk")"},
        {"/home/ann/100%/tesk", "/home/ann/100%%/tesk"},
        {"/home/ann/new\nline/tesk", R"("/home/ann/new\nline/tesk")"},
    };
    for (const auto& [executable, exec] : cases) {
        LoginItem::setEnabled(true, executable);
        const std::string text = readFile(entry);
        EXPECT_TRUE(text.starts_with("[Desktop Entry]\nType=Application\n")) << text;
        EXPECT_NE(text.find("\nExec=" + exec + "\n"), std::string::npos) << text;
    }
    EXPECT_EQ(fs::status(entry).permissions() & fs::perms::all, fs::perms(0644));
    const std::pair<std::string, bool> entries[] = {
        {"[Desktop Entry]\nExec=tesk\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=tesk\nHidden = true\n", false},
        {"[Desktop Entry]\nExec=tesk\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=tesk\nHidden=false\n", true},
        {"[Desktop Entry]\nExec=tesk\n\n[Desktop Action quit]\nHidden=true\n", true},
    };
    for (const auto& [text, enabled] : entries) {
        std::ofstream(entry) << text;
        EXPECT_EQ(LoginItem::isEnabled(), enabled) << text;
    }
    LoginItem::setEnabled(false, "/usr/bin/tesk");
    EXPECT_NO_THROW(LoginItem::setEnabled(false, "/usr/bin/tesk")) << "already gone";
    fs::create_directories(entry);
    EXPECT_FALSE(LoginItem::isEnabled()) << "a directory is no entry";
    EXPECT_THROW(LoginItem::setEnabled(true, "/usr/bin/tesk"), fs::filesystem_error);
    EXPECT_THROW(LoginItem::setEnabled(false, "/usr/bin/tesk"), fs::filesystem_error);
    // No temporary file is left.
    EXPECT_EQ(std::distance(fs::directory_iterator(entry.parent_path()), fs::directory_iterator()), 1);
    // Only an installed copy is offered: a build tree's program may be gone tomorrow.
    EXPECT_TRUE(LoginItem::isInstalled("/usr/bin/tesk") && LoginItem::isInstalled("/opt/tesk/tesk"));
    EXPECT_FALSE(LoginItem::isInstalled("/home/ana/build/tesk") ||
                 LoginItem::isInstalled("/usr/../home/tesk"));
}
