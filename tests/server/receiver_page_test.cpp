#include "server/receiver_page.h"

#include "server/page_style.h"
#include "server/shared_script.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
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

/// What the one script element holds.
std::string_view scriptText(std::string_view html) {
    const auto open = html.find("<script>");
    const auto close = html.find("</script>");
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return {};
    }
    return html.substr(open + 8, close - open - 8);
}

// ---- A small tag reader for the markup outside <style> and <script>. ----

struct Tag {
    std::string name;
    std::map<std::string, std::string> attributes;
    bool closing = false;
    bool selfClosing = false;
    std::size_t start = 0; // at '<'
    std::size_t end = 0;   // one past '>'
};

std::vector<Tag> readTags(std::string_view html) {
    std::vector<Tag> tags;
    std::size_t at = 0;
    while ((at = html.find('<', at)) != std::string_view::npos) {
        if (html.substr(at, 2) == "<!") { // the doctype
            at = html.find('>', at);
            continue;
        }
        Tag tag;
        tag.start = at;
        std::size_t i = at + 1;
        if (html[i] == '/') {
            tag.closing = true;
            ++i;
        }
        while (i < html.size() && (std::isalnum(static_cast<unsigned char>(html[i])) || html[i] == '-')) {
            tag.name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[i++])));
        }
        for (;;) {
            i = html.find_first_not_of(" \n", i);
            if (i == std::string_view::npos) {
                ADD_FAILURE() << "unterminated <" << tag.name;
                return tags;
            }
            if (html[i] == '>' || html.substr(i, 2) == "/>") {
                tag.selfClosing = html[i] == '/';
                i += tag.selfClosing ? 2 : 1;
                break;
            }
            const auto nameEnd = html.find_first_of(" \n=/>", i);
            const std::string name(html.substr(i, nameEnd - i));
            i = nameEnd;
            std::string value;
            if (html[i] == '=') {
                const auto close = html[i + 1] == '"' ? html.find('"', i + 2) : std::string_view::npos;
                if (close == std::string_view::npos) {
                    ADD_FAILURE() << "unquoted " << name << " in <" << tag.name;
                    return tags;
                }
                value = std::string(html.substr(i + 2, close - i - 2));
                i = close + 1;
            }
            EXPECT_TRUE(tag.attributes.emplace(name, value).second) << name << " twice in <" << tag.name;
        }
        tag.end = i;
        tags.push_back(tag);
        at = i;
        if (!tag.closing && (tag.name == "style" || tag.name == "script")) {
            at = html.find("</" + tag.name, at); // raw text: its '<' are not tags
        }
    }
    return tags;
}

std::string nestingError(const std::vector<Tag>& tags) {
    static const std::set<std::string> voidElements = {"meta", "link", "br", "img", "input"};
    std::vector<std::string> open;
    for (const auto& tag : tags) {
        if (tag.closing) {
            if (open.empty() || open.back() != tag.name) {
                return "</" + tag.name + "> closes " + (open.empty() ? "nothing" : "<" + open.back() + ">");
            }
            open.pop_back();
        } else if (!tag.selfClosing && !voidElements.contains(tag.name)) {
            open.push_back(tag.name);
        }
    }
    return open.empty() ? std::string() : "<" + open.back() + "> never closed";
}

const Tag* byId(const std::vector<Tag>& tags, const std::string& id) {
    for (const auto& tag : tags) {
        const auto found = tag.attributes.find("id");
        if (!tag.closing && found != tag.attributes.end() && found->second == id) {
            return &tag;
        }
    }
    return nullptr;
}

/// The text between a tag and the next tag.
std::string textAfter(std::string_view html, const Tag& tag) {
    return std::string(html.substr(tag.end, html.find('<', tag.end) - tag.end));
}

struct Element {
    const char* name;
    const char* id;
    const char* className; // empty: no class attribute
    const char* text;      // what the element holds up to its first child tag
};

// The table of the share page's elements, with their initial contents.
constexpr std::array<Element, 10> elements = {{
    {"nav", "crumbs", "crumbs", ""},
    {"h1", "title", "", "Loading\u2026"},
    {"p", "sub", "sub", ""},
    {"div", "content", "", ""},
    {"div", "uploads-label", "label hidden", "Sending"},
    {"div", "uploads", "list hidden", ""},
    {"div", "send", "float hidden", ""},
    {"div", "send-text", "", "Straight to the Mac over this Wi-Fi"},
    {"button", "pick", "btn small", "Choose"},
    {"input", "picker", "", ""},
}};

// ---- the document ----

TEST(ReceiverPageTest, StartsWithTheCommonHeadBodyAndTopBar) {
    const std::string expected =
        PageStyle::head("Tesk") + "<body>" + std::string(PageStyle::topBar()) + "<main>";
    EXPECT_TRUE(ReceiverPage::html().starts_with(expected));
}

TEST(ReceiverPageTest, EndsWithOneScriptOfSharedThenPageScript) {
    const auto html = ReceiverPage::html();
    EXPECT_TRUE(html.ends_with("</script></body></html>"));
    EXPECT_EQ(occurrences(html, "<script"), 1u);
    EXPECT_EQ(occurrences(html, "</script"), 1u);
    EXPECT_EQ(scriptText(html), std::string(SharedScript::text()) + std::string(ReceiverPage::script()));
}

TEST(ReceiverPageTest, TagsAreWellNested) {
    const auto tags = readTags(ReceiverPage::html());
    ASSERT_GT(tags.size(), 20u);
    EXPECT_EQ(nestingError(tags), "");
}

TEST(ReceiverPageTest, ElementsCarryTheirIdsClassesAndInitialTexts) {
    const auto html = ReceiverPage::html();
    const auto tags = readTags(html);
    for (const auto& element : elements) {
        const Tag* tag = byId(tags, element.id);
        ASSERT_NE(tag, nullptr) << element.id;
        EXPECT_EQ(tag->name, element.name) << element.id;
        const auto className = tag->attributes.find("class");
        EXPECT_EQ(className == tag->attributes.end() ? "" : className->second, element.className)
            << element.id;
        EXPECT_EQ(textAfter(html, *tag), element.text) << element.id;
    }
    const Tag* sendTitle = byId(tags, "send-title");
    ASSERT_NE(sendTitle, nullptr);
    EXPECT_EQ(html.substr(sendTitle->end, 35), "<b>Send files to this Mac</b></div>");
}

TEST(ReceiverPageTest, PickerIsAHiddenMultipleFileInput) {
    const auto tags = readTags(ReceiverPage::html());
    const Tag* picker = byId(tags, "picker");
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->attributes.at("type"), "file");
    EXPECT_TRUE(picker->attributes.contains("multiple"));
    EXPECT_TRUE(picker->attributes.contains("hidden"));
}

TEST(ReceiverPageTest, SendBarAndPickerLieOutsideMainTheRestInside) {
    // gone() replaces the main block alone; the send bar must survive it to be hidden.
    const auto html = ReceiverPage::html();
    const auto tags = readTags(html);
    const auto mainOpen = html.find("<main>");
    const auto mainClose = html.find("</main>");
    ASSERT_NE(mainClose, std::string_view::npos);
    for (const auto& element : elements) {
        const Tag* tag = byId(tags, element.id);
        ASSERT_NE(tag, nullptr) << element.id;
        const bool inside = tag->start > mainOpen && tag->start < mainClose;
        const bool sendBar = std::string_view(element.id).starts_with("send") ||
                             std::string_view(element.id).starts_with("pick");
        EXPECT_EQ(inside, !sendBar) << element.id;
    }
}

TEST(ReceiverPageTest, IdsAreUnique) {
    std::set<std::string> ids;
    for (const auto& tag : readTags(ReceiverPage::html())) {
        if (const auto id = tag.attributes.find("id"); id != tag.attributes.end()) {
            EXPECT_TRUE(ids.insert(id->second).second) << "id " << id->second << " twice";
        }
    }
}

// ---- the script ----

TEST(ReceiverPageTest, ScriptCannotEndItsElementEarly) {
    // The HTML parser ends the element at the first "</script", whatever the JavaScript meant.
    std::string script(scriptText(ReceiverPage::html()));
    for (auto& c : script) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(script.find("</script"), std::string::npos);
    EXPECT_EQ(script.find("<!--"), std::string::npos);
}

TEST(ReceiverPageTest, ScriptHoldsTheExactTexts) {
    const auto script = scriptText(ReceiverPage::html());
    constexpr std::array texts = {
        ">Nothing here yet.<",
        "This link has stopped working",
        "Ask the person who shared it to send a new one.",
        "\"Couldn't reach the Mac. Same Wi\u2011Fi?\"",
        "\"Get a ping when something's added\"",
        "\"Follow this folder\"",
        "\"Folders\"",
        "\"Files\"",
        "\"Can't reach the Mac\"",
        "\"Check that you're on the same Wi\u2011Fi as the Mac, and that it's awake.\"",
        "This page tries again by itself.",
        "\"Files go straight to the Mac over this Wi\u2011Fi \u00b7 \"",
        "Choose what to send",
        "Photos, videos, documents. Pick as many as you like.",
        " Choose files</button>",
        "\"Copied\"",
        "\"Select the text to copy\"",
        "\"Send to \"",
        "\" \u00b7 Tesk\"",
        "\"Note \u00b7 \"",
        "Sending\u2026 0%",
        "\"Sending\u2026 \"",
        "\"Sent \u00b7 \"",
        "\"Couldn't send (\"",
        "\"). Try again.\"",
        "\"until they stop it\"",
        "\"link expired\"",
    };
    for (const auto* text : texts) {
        EXPECT_NE(script.find(text), std::string_view::npos) << text;
    }
    // Every "Wi-Fi" a script shows carries the non-breaking hyphen.
    EXPECT_EQ(script.find("Wi-Fi"), std::string_view::npos);
}

TEST(ReceiverPageTest, AddressesAreRelative) {
    // The page is reached by LAN address, host name or relay alike: an absolute address would break one.
    const auto html = ReceiverPage::html();
    for (const auto* absolute : {"http:", "https:"}) {
        EXPECT_EQ(html.find(absolute), std::string_view::npos) << absolute;
    }
    // A string or attribute value opening with "/" names a path from the host's root.
    for (std::size_t at = html.find('/'); at != std::string_view::npos; at = html.find('/', at + 1)) {
        const bool opensValue =
            at > 0 && std::string_view("\"'`").find(html[at - 1]) != std::string_view::npos;
        const bool pathFollows =
            at + 1 < html.size() && (std::isalnum(static_cast<unsigned char>(html[at + 1])) ||
                                     html[at + 1] == '/' || html[at + 1] == '?');
        EXPECT_FALSE(opensValue && pathFollows) << html.substr(at - 1, 40);
    }
    const auto script = scriptText(html);
    for (const auto* relative :
         {"\"api\"", "\"upload\"", "\"f/\" + encodeURIComponent(", "cache: \"no-store\""}) {
        EXPECT_NE(script.find(relative), std::string_view::npos) << relative;
    }
}

TEST(ReceiverPageTest, ScriptParses) {
    if (std::system("node --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "node is not installed";
    }
    const TempDir dir;
    const auto file = dir.path() / "page.js";
    const auto log = dir.path() / "check.log";
    std::ofstream(file, std::ios::binary) << scriptText(ReceiverPage::html());
    const std::string command = "node --check '" + file.string() + "' >'" + log.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::stringstream output;
    output << std::ifstream(log).rdbuf();
    EXPECT_EQ(status, 0) << output.str();
}

TEST(ReceiverPageTest, DumpsScriptForNodeTests) {
    // Not a check of its own: hands the shipped script to tests/e2e/share_page_unit.test.mjs.
    const char* target = std::getenv("TESK_DUMP_SCRIPTS");
    if (target == nullptr || *target == '\0') {
        GTEST_SKIP() << "TESK_DUMP_SCRIPTS is not set";
    }
    const auto script = scriptText(ReceiverPage::html());
    {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        ASSERT_TRUE(out) << "cannot write " << target;
        out << script;
    }
    std::stringstream written;
    written << std::ifstream(target, std::ios::binary).rdbuf();
    EXPECT_EQ(written.str(), script);
}

} // namespace
