#include "app/system/system_names.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(SystemNamesTest, PrettyHostNameIsReadAndUnquoted) {
    EXPECT_EQ(SystemNames::prettyHostName("PRETTY_HOSTNAME=Ana's Laptop\n"), "Ana's Laptop");
    EXPECT_EQ(SystemNames::prettyHostName("CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ana \\\"Work\\\" PC\"\n"),
              "Ana \"Work\" PC");
    EXPECT_EQ(SystemNames::prettyHostName("PRETTY_HOSTNAME='Bob'\n"), "Bob");
    EXPECT_FALSE(SystemNames::prettyHostName("PRETTY_HOSTNAME=\n"));
    EXPECT_FALSE(SystemNames::prettyHostName("PRETTY_HOSTNAME=\"\"\n"));
    EXPECT_FALSE(SystemNames::prettyHostName("CHASSIS=laptop\n"));
}

TEST(SystemNamesTest, LibraryRootFollowsXDGDataHome) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string restore = saved ? saved : "";
    setenv("XDG_DATA_HOME", "/data/home", 1);
    EXPECT_EQ(SystemNames::libraryRoot(), "/data/home/Tesk");
    // A relative value is invalid by the XDG rules and is ignored.
    setenv("XDG_DATA_HOME", "relative/dir", 1);
    setenv("HOME", "/home/ana", 1);
    EXPECT_EQ(SystemNames::libraryRoot(), "/home/ana/.local/share/Tesk");
    if (saved) {
        setenv("XDG_DATA_HOME", restore.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
}

TEST(SystemNamesTest, LocalHostNameIsTheShortNameDotLocal) {
    const auto name = SystemNames::localHostName();
    ASSERT_TRUE(name);
    EXPECT_TRUE(name->ends_with(".local"));
    EXPECT_EQ(name->find('.'), name->size() - 6);
}
