#include "server/device_bodies.h"

#include <gtest/gtest.h>

#include <string>

TEST(DeviceBodiesTest, ClaimNameReadsJSONEscapesThenCleansTheName) {
    const struct {
        std::string body;
        std::string name;
    } cases[] = {
        {R"({"name":"Ana\u2019s iPhone"})", "Ana\u2019s iPhone"},
        {R"({"name":"\u0000Bob\u001b[31m\n"})", "Bob[31m"},
        {R"({"name":" \u200b\u2028 "})", "Phone"},
        // JSON that is not well-formed Unicode is not a name.
        {R"({"name":"\ud800"})", "Phone"},
        {"{\"name\":\"\xff\"}", "Phone"},
        {R"({"name":"Bob"} trailing)", "Phone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(DeviceBodies::claimName(c.body), c.name);
    }
}

TEST(DeviceBodiesTest, ClaimNameCutAtTheBoundNeverEndsInWhiteSpace) {
    const std::string name = "Ana" + std::string(DeviceBodies::maxNameScalars, ' ') + "Phone";
    EXPECT_EQ(DeviceBodies::claimName(R"({"name":")" + name + R"("})"), "Ana");
}

TEST(DeviceBodiesTest, SentTextIsTheBodyUnchangedUpToTheLimit) {
    EXPECT_EQ(DeviceBodies::sentText("  a note \n"), "  a note \n");
    const std::string atLimit = std::string(DeviceBodies::maxTextBytes - 1, ' ') + "x";
    EXPECT_EQ(DeviceBodies::sentText(atLimit), atLimit);
    EXPECT_FALSE(DeviceBodies::sentText(atLimit + "x"));
}

TEST(DeviceBodiesTest, SentTextRefusesUnicodeWhiteSpaceAndBrokenSequences) {
    EXPECT_FALSE(DeviceBodies::sentText("\u00a0\u3000\u2028\n"));
    EXPECT_FALSE(DeviceBodies::sentText("caf\xc3"));
    EXPECT_FALSE(DeviceBodies::sentText("\xed\xa0\x80"));
    EXPECT_FALSE(DeviceBodies::sentText(""));
}
