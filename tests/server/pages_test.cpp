// The pages as their scripts and browsers need them: one script element that cannot end early, every
// element a script fills present once, addresses that work from any origin, values escaped.
#include "server/device_pages.h"
#include "server/page_style.h"
#include "server/receiver_page.h"
#include "server/shared_script.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::size_t occurrences(std::string_view text, std::string_view piece) {
    const auto at = text.find(piece);
    return at == std::string_view::npos ? 0 : 1 + occurrences(text.substr(at + 1), piece);
}

struct Page {
    std::string name, html;
    /// Ids the page's script fills, each exactly once: those before </main>, then those after it.
    std::vector<std::string> inMain, afterMain = {};
    /// Links named from the root (the server-wide icon and the phone's manifest).
    std::size_t rootLinks = 0;
};

} // namespace

TEST(PagesTest, EachIsHeadBarMainThenOneScriptThatCannotEndEarlyAndElementsItFills) {
    const Page pages[] = {
        // gone() replaces the main block alone; the send bar must survive it to be hidden.
        {"share",
         std::string(ReceiverPage::html()),
         {"crumbs", "title", "sub", "content", "uploads-label", "uploads", "dot", "mac"},
         {"send", "send-title", "send-text", "pick", "picker"}},
        {"pair", DevicePages::pair("Studio"), {"form", "name", "go", "status"}},
        // unpaired() replaces the main block; the picker outlives it.
        {"phone",
         DevicePages::phone("tok", ""),
         {"title", "sub", "tip", "tip-steps", "share-sheet", "drop", "drop-icon", "pick", "uploads-label",
          "uploads", "text", "send-text", "text-status"},
         {"picker"},
         2},
        {"phone with launcher",
         DevicePages::phone("tok", "https://relay.example/d/m1/tok/", false),
         {"title", "pick", "text"},
         {"picker"}},
    };
    // The head each page's builder writes, its data attributes included, is checked with the escaping.
    for (const auto& [name, html, inMain, afterMain, rootLinks] : pages) {
        SCOPED_TRACE(name);
        EXPECT_NE(html.find("<body>" + std::string(PageStyle::topBar()) + "<main>"), std::string::npos);
        EXPECT_TRUE(html.ends_with("</script></body></html>"));
        ASSERT_EQ(occurrences(html, "<script"), 1u);
        const auto open = html.find("<script>") + 8;
        const std::string script = html.substr(open, html.find("</script>") - open);
        EXPECT_TRUE(script.starts_with(SharedScript::text()));
        // The HTML parser ends the element at the first "</script", whatever the JavaScript meant.
        EXPECT_FALSE(std::regex_search(script, std::regex("</script|<!--", std::regex::icase)));

        const auto mainClose = html.find("</main>");
        ASSERT_NE(mainClose, std::string::npos);
        for (const bool after : {false, true}) {
            for (const std::string& id : after ? afterMain : inMain) {
                const std::string attribute = "id=\"" + id + "\"";
                ASSERT_EQ(occurrences(html, attribute), 1u) << id;
                EXPECT_EQ(html.find(attribute) > mainClose, after) << id;
            }
        }

        // The pages are reached by LAN address, local name or relay alike: an absolute address breaks one.
        EXPECT_FALSE(std::regex_search(html.substr(html.find("</head>")), std::regex("https?:")));
        EXPECT_EQ(html.find("src=\"/"), std::string::npos);
        EXPECT_EQ(occurrences(html, "href=\"/"), rootLinks);
    }
    // Without a share-sheet shortcut neither the card nor a script line reaching for it: the script
    // would stop at a missing element.
    EXPECT_FALSE(
        std::regex_search(DevicePages::phone("tok", "", false), std::regex(R"(share-sheet|\.shortcut)")));
    EXPECT_EQ(occurrences(DevicePages::phone("tok", "", true), "share-sheet"), 2u);
    // Only the icon and the phone's own manifest are named from the root.
    const std::string page = DevicePages::phone("T0k", ""), own = page.substr(0, page.find("</head>"));
    EXPECT_EQ(occurrences(own, R"(<link rel="manifest" href="/d/T0k/manifest.json">)"), 1u);
    EXPECT_EQ(occurrences(own, R"(<link rel="apple-touch-icon" href="/icon.png">)"), 1u);
}

TEST(PagesTest, InsertedValuesAreEscapedOnce) {
    // "&" first: a name that already looks like an entity must still show as typed.
    const auto pair = DevicePages::pair(R"(Ann & "Bo" <Mac> &lt;</title><script>)");
    const std::string escaped = "Ann &amp; &quot;Bo&quot; &lt;Mac&gt; &amp;lt;&lt;/title&gt;&lt;script&gt;";
    EXPECT_NE(pair.find("<title>Pair with " + escaped + "</title>"), std::string::npos);
    EXPECT_NE(pair.find("<html lang=\"en\" data-mac=\"" + escaped + "\">"), std::string::npos);
    EXPECT_EQ(occurrences(pair, "<script"), 1u);
    const auto relayed = DevicePages::phone("T0k", R"(https://r.example/&"x"/)");
    EXPECT_NE(relayed.find(R"(data-launcher="https://r.example/&amp;&quot;x&quot;/")"), std::string::npos);
    // Callers escape what goes into the head; escaping again would show "&amp;amp;" on the phone.
    const auto head = PageStyle::head("Q&amp;A", "<link rel=\"x\">\n", " data-token=\"a&b\"");
    EXPECT_TRUE(head.starts_with("<!doctype html><html lang=\"en\" data-token=\"a&b\"><head>"));
    EXPECT_NE(head.find("<title>Q&amp;A</title>\n<link rel=\"x\">\n<style>"), std::string::npos);
}

TEST(PagesTest, EveryColourUsedIsDefinedInBothSchemes) {
    // A misspelt var() silently falls back to nothing: a white-on-white button.
    const std::string_view sheet = PageStyle::styleSheet();
    const auto defined = [&](std::size_t from) {
        std::set<std::string, std::less<>> names;
        for (auto at = sheet.find("--", from); at < sheet.find('}', from); at = sheet.find("--", at + 2)) {
            names.emplace(sheet.substr(at, sheet.find(':', at) - at));
        }
        return names;
    };
    // A missing dark block defines nothing, which cannot equal the light one.
    const auto light = defined(sheet.find(":root{"));
    EXPECT_EQ(light, defined(sheet.find("@media (prefers-color-scheme: dark){:root{")));
    for (auto at = sheet.find("var("); at != std::string_view::npos; at = sheet.find("var(", at + 1)) {
        EXPECT_TRUE(light.contains(sheet.substr(at + 4, sheet.find_first_of(",)", at) - at - 4)));
    }
    EXPECT_GT(occurrences(sheet, "var("), 20u);
    EXPECT_EQ(sheet.find("</"), std::string_view::npos) << "would end the style element early";
}
