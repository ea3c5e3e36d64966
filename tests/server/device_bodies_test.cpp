#include "server/device_bodies.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

TEST(DeviceBodiesTest, ClaimNameReadsJSONEscapesThenCleansAndCutsTheName) {
    const std::string spaced = "Ana" + std::string(DeviceBodies::maxNameScalars, ' ') + "Phone";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"name":"Ana\u2019s iPhone"})", "Ana\u2019s iPhone"},
        {R"({"name":"\u0000Bob\u001b[31m\n"})", "Bob[31m"},
        {R"({"name":" \u200b\u2028 "})", "Phone"},
        // JSON that is not well-formed Unicode is not a name.
        {R"({"name":"\ud800"})", "Phone"},
        {"{\"name\":\"\xff\"}", "Phone"},
        {R"({"name":"Bob"} trailing)", "Phone"},
        // Cut at the bound, never ending in white space.
        {R"({"name":")" + spaced + R"("})", "Ana"},
    };
    for (const auto& [body, name] : cases) {
        EXPECT_EQ(DeviceBodies::claimName(body), name) << body;
    }
}

TEST(DeviceBodiesTest, SentTextIsTheBodyUnchangedUpToTheLimitUnlessBlankOrBroken) {
    const std::string atLimit = std::string(DeviceBodies::maxTextBytes - 1, ' ') + "x";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"  a note \n", "  a note \n"},
        {atLimit, atLimit},
        {atLimit + "x", std::nullopt},
        {"\u00a0\u3000\u2028\n", std::nullopt},
        {"caf\xc3", std::nullopt},
        {"\xed\xa0\x80", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [body, text] : cases) {
        EXPECT_EQ(DeviceBodies::sentText(body), text) << body.substr(0, 20);
    }
}
