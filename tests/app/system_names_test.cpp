#include "app/system/system_names.h"

#include "support/scoped_env.h"

#include <gtest/gtest.h>

TEST(SystemNamesTest, PrettyHostNameIsReadAndUnquotedAndTheLibraryFollowsAnAbsoluteXDGDataHome) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"PRETTY_HOSTNAME=Ana's Laptop\n", "Ana's Laptop"},
        {"CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ana \\\"Work\\\" PC\"\n", "Ana \"Work\" PC"},
        {"PRETTY_HOSTNAME='Bob'\n", "Bob"},
        {"PRETTY_HOSTNAME=\"\"\n", std::nullopt},
        {"CHASSIS=laptop\n", std::nullopt},
    };
    for (const auto& [text, name] : cases) {
        EXPECT_EQ(SystemNames::prettyHostName(text), name) << text;
    }
    ScopedEnv data("XDG_DATA_HOME", "/data/home");
    ScopedEnv home("HOME", "/home/ana");
    EXPECT_EQ(SystemNames::libraryRoot(), "/data/home/Tesk");
    data.set("relative/dir");
    EXPECT_EQ(SystemNames::libraryRoot(), "/home/ana/.local/share/Tesk");
}
