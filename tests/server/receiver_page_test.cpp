#include "server/receiver_page.h"

#include "server/page_style.h"
#include "server/shared_script.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

namespace {

std::size_t occurrences(std::string_view text, std::string_view piece) {
    std::size_t count = 0;
    for (auto at = text.find(piece); at != std::string_view::npos; at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

/// What the one script element holds.
std::string_view scriptText(std::string_view html) {
    const auto open = html.find("<script>");
    const auto close = html.find("</script>");
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return {};
    }
    return html.substr(open + 8, close - open - 8);
}

TEST(ReceiverPageTest, IsHeadBarMainThenOneScriptOfSharedThenPageScript) {
    const auto html = ReceiverPage::html();
    EXPECT_TRUE(
        html.starts_with(PageStyle::head("Tesk") + "<body>" + std::string(PageStyle::topBar()) + "<main>"));
    EXPECT_TRUE(html.ends_with("</script></body></html>"));
    EXPECT_EQ(occurrences(html, "<script"), 1u);
    EXPECT_EQ(scriptText(html), std::string(SharedScript::text()) + std::string(ReceiverPage::script()));
}

TEST(ReceiverPageTest, EachElementTheScriptFillsExistsOnceAndOnlyTheSendBarLiesOutsideMain) {
    // gone() replaces the main block alone; the send bar must survive it to be hidden.
    const auto html = ReceiverPage::html();
    const auto mainClose = html.find("</main>");
    ASSERT_NE(mainClose, std::string_view::npos);
    for (const std::string id : {"crumbs", "title", "sub", "content", "uploads-label", "uploads", "send",
                                 "send-title", "send-text", "pick", "picker", "dot", "mac"}) {
        const std::string attribute = "id=\"" + id + "\"";
        ASSERT_EQ(occurrences(html, attribute), 1u) << id;
        const bool outside = html.find(attribute) > mainClose;
        EXPECT_EQ(outside, id.starts_with("send") || id.starts_with("pick")) << id;
    }
    EXPECT_NE(html.find("<input id=\"picker\" type=\"file\" multiple hidden>"), std::string_view::npos);
}

TEST(ReceiverPageTest, ScriptCannotEndItsElementEarly) {
    // The HTML parser ends the element at the first "</script", whatever the JavaScript meant.
    std::string script(scriptText(ReceiverPage::html()));
    for (auto& c : script) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(script.find("</script"), std::string::npos);
    EXPECT_EQ(script.find("<!--"), std::string::npos);
}

TEST(ReceiverPageTest, AddressesAreRelative) {
    // The page is reached by LAN address, host name or relay alike: an absolute address would break one.
    const auto html = ReceiverPage::html();
    EXPECT_EQ(html.find("http:"), std::string_view::npos);
    EXPECT_EQ(html.find("https:"), std::string_view::npos);
    for (std::size_t at = html.find('/'); at != std::string_view::npos; at = html.find('/', at + 1)) {
        const bool opensValue = std::string_view("\"'`").find(html[at - 1]) != std::string_view::npos;
        const bool pathFollows =
            at + 1 < html.size() && (std::isalnum(static_cast<unsigned char>(html[at + 1])) ||
                                     html[at + 1] == '/' || html[at + 1] == '?');
        EXPECT_FALSE(opensValue && pathFollows) << html.substr(at - 1, 40);
    }
}

} // namespace
