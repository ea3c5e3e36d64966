#include "server/device_pages.h"

#include "server/page_style.h"
#include "server/shared_script.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::size_t occurrences(std::string_view text, std::string_view piece) {
    std::size_t count = 0;
    for (auto at = text.find(piece); at != std::string_view::npos; at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

/// The page's own script: what follows the shared script inside the one script element.
std::string_view ownScript(std::string_view html) {
    const auto open = html.find("<script>");
    const auto close = html.find("</script>");
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return {};
    }
    const auto script = html.substr(open + 8, close - open - 8);
    return script.starts_with(SharedScript::text()) ? script.substr(SharedScript::text().size()) : "";
}

std::string_view headOf(std::string_view html) {
    return html.substr(0, html.find("</head>"));
}

TEST(DevicePagesTest, BothPagesAreHeadBarMainThenOneScriptOfSharedThenOwnScript) {
    const std::vector<std::pair<std::string, std::string>> pages = {
        {DevicePages::pair("Studio"), PageStyle::head("Pair with Studio", "", " data-mac=\"Studio\"")},
        {DevicePages::phone("tok", "https://relay.example/d/m1/tok/"),
         PageStyle::head("Tesk", "", " data-launcher=\"https://relay.example/d/m1/tok/\"")},
    };
    for (const auto& [html, head] : pages) {
        SCOPED_TRACE(head.substr(0, 80));
        EXPECT_TRUE(html.starts_with(head + "<body>" + std::string(PageStyle::topBar()) + "<main>"));
        EXPECT_TRUE(html.ends_with("</script></body></html>"));
        EXPECT_EQ(occurrences(html, "<script"), 1u);
        EXPECT_FALSE(ownScript(html).empty()) << "the script must start with the shared script";
    }
}

TEST(DevicePagesTest, MacNameIsEscapedInTitleAndAttribute) {
    // "&" first: a name that already looks like an entity must still show as typed.
    const auto html = DevicePages::pair(R"(Ann & "Bo" <Mac> &lt;)");
    const std::string escaped = "Ann &amp; &quot;Bo&quot; &lt;Mac&gt; &amp;lt;";
    EXPECT_NE(html.find("<title>Pair with " + escaped + "</title>"), std::string::npos);
    EXPECT_NE(html.find("<html lang=\"en\" data-mac=\"" + escaped + "\">"), std::string::npos);
    EXPECT_EQ(html.find("<Mac>"), std::string::npos);
    EXPECT_EQ(html.find("\"Bo\""), std::string::npos);
}

TEST(DevicePagesTest, NameCannotEndTheScriptOrOpenAnother) {
    const auto html = DevicePages::pair("</title></head><script>alert(1)</script>");
    EXPECT_EQ(occurrences(html, "<script"), 1u);
    EXPECT_EQ(occurrences(html, "</title>"), 1u);
}

TEST(DevicePagesTest, PairFormHasTheFieldsItsScriptUses) {
    const auto html = DevicePages::pair("Studio");
    const auto mainClose = html.find("</main>");
    for (const std::string id : {"form", "name", "go", "status"}) {
        const std::string attribute = "id=\"" + id + "\"";
        ASSERT_EQ(occurrences(html, attribute), 1u) << id;
        EXPECT_LT(html.find(attribute), mainClose) << id;
    }
    EXPECT_NE(html.find(R"(<form id="form" class="card">)"), std::string::npos);
    EXPECT_NE(
        html.find(
            R"(<input id="name" type="text" maxlength="40" autocomplete="off" aria-label="Phone name">)"),
        std::string::npos);
    EXPECT_NE(html.find(R"(<button id="go" class="btn" type="submit">Pair</button>)"), std::string::npos);
    EXPECT_NE(html.find(R"(<p id="status" class="status-line"></p></form>)"), std::string::npos);
}

TEST(DevicePagesTest, PhonePageCarriesItsOwnIconAndManifestOnlyWithoutDeviceBase) {
    const auto own = DevicePages::phone("T0k", "");
    const auto head = headOf(own);
    EXPECT_NE(own.find("<html lang=\"en\" data-launcher=\"\">"), std::string::npos);
    for (const std::string tag : {R"(<link rel="manifest" href="/d/T0k/manifest.json">)",
                                  R"(<link rel="apple-touch-icon" href="/icon.png">)",
                                  R"(<meta name="apple-mobile-web-app-capable" content="yes">)",
                                  R"(<meta name="apple-mobile-web-app-title" content="Tesk">)"}) {
        EXPECT_EQ(occurrences(head, tag), 1u) << tag;
    }

    const auto relayed = DevicePages::phone("T0k", R"(https://relay.example/d/m&1/"x"/)");
    EXPECT_NE(relayed.find(R"(data-launcher="https://relay.example/d/m&amp;1/&quot;x&quot;/")"),
              std::string::npos);
    EXPECT_EQ(headOf(relayed),
              headOf(PageStyle::head("Tesk", "",
                                     R"( data-launcher="https://relay.example/d/m&amp;1/&quot;x&quot;/")")));
}

TEST(DevicePagesTest, PhonePageHasEachElementItsScriptFillsOnceAndThePickerOutsideMain) {
    // unpaired() replaces the main block; the picker and the top bar outlive it.
    const auto html = DevicePages::phone("tok", "");
    const auto mainClose = html.find("</main>");
    ASSERT_NE(mainClose, std::string::npos);
    for (const std::string id :
         {"title", "sub", "tip", "tip-steps", "share-sheet", "drop", "drop-icon", "pick", "uploads-label",
          "uploads", "text", "send-text", "text-status", "picker"}) {
        const std::string attribute = "id=\"" + id + "\"";
        ASSERT_EQ(occurrences(html, attribute), 1u) << id;
        EXPECT_EQ(html.find(attribute) > mainClose, id == "picker") << id;
    }
    EXPECT_NE(html.find(R"(<section id="tip" class="card hidden">)"), std::string::npos);
    EXPECT_NE(html.find(R"(<section id="share-sheet" class="card hidden">)"), std::string::npos);
    EXPECT_NE(html.find(R"(<a class="btn soft" href="Send%20to%20Tesk.shortcut">Add to share sheet</a>)"),
              std::string::npos);
    EXPECT_NE(html.find(R"(<button id="pick" class="btn" type="button">Choose photos &amp; files</button>)"),
              std::string::npos);
    EXPECT_NE(
        html.find(R"(<textarea id="text" placeholder="Paste or type here" aria-label="Text or a link">)"),
        std::string::npos);
    EXPECT_NE(html.find(R"(</main><input id="picker" type="file" multiple hidden><script>)"),
              std::string::npos);
}

TEST(DevicePagesTest, ShareSheetCardOnlyWhereAShortcutCanBeMade) {
    const auto offered = DevicePages::phone("tok", "", true);
    EXPECT_EQ(occurrences(offered, R"(<section id="share-sheet" )"), 1u);
    EXPECT_EQ(occurrences(offered, R"($("share-sheet"))"), 1u);
    // Neither the card nor a script line reaching for it: the script would stop at a missing element.
    const auto withheld = DevicePages::phone("tok", "", false);
    EXPECT_EQ(withheld.find("share-sheet"), std::string::npos);
    EXPECT_EQ(withheld.find(".shortcut"), std::string::npos);
    EXPECT_NE(withheld.find(R"(<button id="pick")"), std::string::npos);
}

TEST(DevicePagesTest, ScriptsCannotEndTheirElementEarly) {
    for (const auto& html : {DevicePages::pair("Studio"), DevicePages::phone("tok", "")}) {
        std::string script(ownScript(html));
        for (auto& c : script) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(script.find("</script"), std::string::npos);
        EXPECT_EQ(script.find("<!--"), std::string::npos);
    }
}

TEST(DevicePagesTest, AddressesAreRelativeBesidesTheIconAndManifestLinks) {
    // The pages are reached by LAN address, local name or relay alike; only the server-wide icon and the
    // phone's manifest are named from the root, and the relay's origin comes from the claim at run time.
    for (const auto& html : {DevicePages::pair("Studio"), DevicePages::phone("tok", "")}) {
        EXPECT_EQ(html.find("http:"), std::string::npos);
        EXPECT_EQ(html.find("https:"), std::string::npos);
        EXPECT_EQ(html.find("src=\"/"), std::string::npos);
    }
    EXPECT_EQ(occurrences(DevicePages::pair("Studio"), "href=\"/"), 0u);
    EXPECT_EQ(occurrences(DevicePages::phone("tok", ""), "href=\"/"), 2u);
}

TEST(DevicePagesTest, ManifestIsCompactJsonWithTheKeysInOrder) {
    const auto text = DevicePages::manifest("T0k-9");
    const auto json = nlohmann::ordered_json::parse(text);
    EXPECT_EQ(json.dump(), text) << "not compact";
    std::vector<std::string> keys;
    for (const auto& [key, value] : json.items()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"name", "short_name", "start_url", "scope", "display",
                                              "background_color", "theme_color", "icons"}));
    EXPECT_EQ(json["start_url"], "/d/T0k-9/");
    EXPECT_EQ(json["scope"], "/d/T0k-9/");
    EXPECT_EQ(json["display"], "standalone");
    ASSERT_EQ(json["icons"].size(), 1u);
    EXPECT_EQ(json["icons"][0]["src"], "/icon.png");
    EXPECT_EQ(json["icons"][0]["sizes"], "180x180");
    EXPECT_EQ(json["icons"][0]["type"], "image/png");
}

} // namespace
