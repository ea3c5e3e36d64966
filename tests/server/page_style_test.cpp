#include "server/page_style.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

namespace {

/// The custom properties a block of declarations defines ("--name:").
std::set<std::string> definedColours(std::string_view block) {
    std::set<std::string> names;
    for (auto at = block.find("--"); at != std::string_view::npos; at = block.find("--", at + 2)) {
        const auto colon = block.find(':', at);
        names.emplace(block.substr(at, colon - at));
    }
    return names;
}

TEST(PageStyleTest, HeadInsertsTitleExtraAndAttributesUnchangedInOrder) {
    // Callers escape; a builder that escaped again would show "&amp;amp;" on the phone.
    const std::string extra = "<link rel=\"manifest\" href=\"m.json\">\n";
    const auto head = PageStyle::head("Q&amp;A <b>", extra, " data-token=\"a&b\"");
    EXPECT_TRUE(head.starts_with(
        "<!doctype html><html lang=\"en\" data-token=\"a&b\"><head><meta charset=\"utf-8\">\n"))
        << head.substr(0, 120);
    EXPECT_TRUE(head.ends_with("<title>Q&amp;A <b></title>\n" + extra + "<style>" +
                               std::string(PageStyle::styleSheet()) + "</style>\n</head>"));
}

TEST(PageStyleTest, EveryColourUsedIsDefinedInBothSchemes) {
    // A misspelt var() silently falls back to nothing: a white-on-white button.
    const std::string_view sheet = PageStyle::styleSheet();
    const auto darkAt = sheet.find("@media (prefers-color-scheme: dark){:root{");
    ASSERT_NE(darkAt, std::string_view::npos);
    const auto lightAt = sheet.find(":root{");
    const auto light = definedColours(sheet.substr(lightAt, sheet.find('}', lightAt) - lightAt));
    const auto dark = definedColours(sheet.substr(darkAt, sheet.find('}', darkAt) - darkAt));
    EXPECT_EQ(light, dark);
    std::size_t uses = 0;
    for (auto at = sheet.find("var("); at != std::string_view::npos;
         at = sheet.find("var(", at + 1), ++uses) {
        const std::string name(sheet.substr(at + 4, sheet.find_first_of(",)", at) - at - 4));
        EXPECT_TRUE(light.contains(name)) << "undefined " << name;
    }
    EXPECT_GT(uses, 20u);
    EXPECT_EQ(sheet.find("</"), std::string_view::npos) << "would end the style element early";
}

TEST(PageStyleTest, TopBarCarriesTheElementsTheScriptsFillIn) {
    const std::string_view bar = PageStyle::topBar();
    EXPECT_NE(bar.find("<div class=\"brand\">" + std::string(PageStyle::brandMark()) + "Tesk</div>"),
              std::string_view::npos);
    EXPECT_NE(bar.find("<span class=\"dot\" id=\"dot\"></span>"), std::string_view::npos) << bar;
    EXPECT_NE(bar.find("<span id=\"mac\">On this Wi-Fi</span>"), std::string_view::npos) << bar;
}

TEST(PageStyleTest, NoticeIsHeadBarAndMessage) {
    EXPECT_EQ(PageStyle::notice("Ran out", "Make a new one."),
              PageStyle::head("Tesk") + "<body>" + std::string(PageStyle::topBar()) +
                  "<div class=\"notice\"><h1>Ran out</h1><p>Make a new one.</p></div></body></html>");
}

} // namespace
