#include "server/page_style.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view leftPiece = "M104,25.49 A108,108 0 0,0 104,230.51 Z";
constexpr std::string_view rightPiece =
    "M134,20.07 A108,108 0 0,1 218.26,55.74 L146,128 L218.26,200.26 A108,108 0 0,1 134,235.93 Z";

std::string trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::size_t occurrences(std::string_view text, std::string_view piece) {
    std::size_t count = 0;
    for (auto at = text.find(piece); at != std::string_view::npos; at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

// ---- A minimal HTML tag reader: enough to check structure without trusting the builder. ----

struct Tag {
    std::string name;
    std::map<std::string, std::string> attributes;
    bool closing = false;
    bool selfClosing = false;
    std::size_t end = 0; // one past '>'
};

std::vector<Tag> readTags(std::string_view html) {
    std::vector<Tag> tags;
    std::size_t at = 0;
    while ((at = html.find('<', at)) != std::string_view::npos) {
        if (html.substr(at, 2) == "<!") { // the doctype
            at = std::min(html.find('>', at), html.size() - 1) + 1;
            continue;
        }
        Tag tag;
        std::size_t i = at + 1;
        if (i < html.size() && html[i] == '/') {
            tag.closing = true;
            ++i;
        }
        while (i < html.size() && (std::isalnum(static_cast<unsigned char>(html[i])) || html[i] == '-')) {
            tag.name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[i++])));
        }
        for (;;) {
            i = std::min(html.find_first_not_of(" \t\r\n", i), html.size());
            if (i == html.size()) {
                ADD_FAILURE() << "unterminated tag <" << tag.name;
                return tags;
            }
            if (html[i] == '>') {
                ++i;
                break;
            }
            if (html.substr(i, 2) == "/>") {
                tag.selfClosing = true;
                i += 2;
                break;
            }
            const auto nameEnd = std::min(html.find_first_of(" \t\r\n=>/\"", i), html.size());
            const std::string name(html.substr(i, nameEnd - i));
            i = nameEnd;
            if (name.empty()) {
                ADD_FAILURE() << "malformed attribute in <" << tag.name << " at offset " << i;
                return tags;
            }
            std::string value;
            if (i < html.size() && html[i] == '=') {
                const auto close = ++i < html.size() && html[i] == '"' ? html.find('"', i + 1) : html.npos;
                if (close == std::string_view::npos) {
                    ADD_FAILURE() << "value of " << name << " in <" << tag.name << " not quoted";
                    return tags;
                }
                value = std::string(html.substr(i + 1, close - i - 1));
                i = close + 1;
            }
            if (!tag.attributes.emplace(name, value).second) {
                ADD_FAILURE() << "attribute " << name << " twice in <" << tag.name;
            }
        }
        tag.end = i;
        tags.push_back(tag);
        at = i;
        // Style and script content is raw text: a '>' combinator there is not markup.
        if (!tag.closing && (tag.name == "style" || tag.name == "script")) {
            const auto close = html.find("</" + tag.name, at);
            at = close == std::string_view::npos ? html.size() : close;
        }
    }
    return tags;
}

/// Empty when every element is closed in the right order; otherwise what went wrong.
std::string nestingError(std::string_view html) {
    static const std::set<std::string> voidElements = {"meta", "link", "br", "img", "input", "hr", "source"};
    std::vector<std::string> open;
    for (const auto& tag : readTags(html)) {
        if (tag.closing) {
            if (open.empty()) {
                return "</" + tag.name + "> with nothing open";
            }
            if (open.back() != tag.name) {
                return "</" + tag.name + "> closes <" + open.back() + ">";
            }
            open.pop_back();
        } else if (!tag.selfClosing && !voidElements.contains(tag.name)) {
            if (open.empty() && tag.name != "html") {
                return "<" + tag.name + "> outside <html>";
            }
            open.push_back(tag.name);
        }
    }
    return open.empty() ? std::string() : "<" + open.back() + "> never closed";
}

/// The first tag named `name` whose attribute `key` equals `value`; null when there is none.
const Tag* findTag(const std::vector<Tag>& tags, std::string_view name, const std::string& key,
                   std::string_view value) {
    for (const auto& tag : tags) {
        const auto found = tag.attributes.find(key);
        if (!tag.closing && tag.name == name && found != tag.attributes.end() && found->second == value) {
            return &tag;
        }
    }
    return nullptr;
}

/// The text between a tag and the next tag.
std::string textAfter(std::string_view html, const Tag& tag) {
    return std::string(html.substr(tag.end, html.find('<', tag.end) - tag.end));
}

// ---- A minimal CSS reader: rules with their selector, declarations and enclosing @media. ----

struct Rule {
    std::string media;
    std::string selector;
    std::map<std::string, std::string> declarations;
};

void collectRules(std::string_view css, const std::string& media, std::vector<Rule>& rules) {
    std::size_t at = 0;
    for (;;) {
        const auto open = css.find('{', at);
        if (open == std::string_view::npos) {
            EXPECT_EQ(trim(css.substr(at)), "") << "text after the last rule";
            return;
        }
        const std::string selector = trim(css.substr(at, open - at));
        int depth = 1;
        std::size_t i = open + 1;
        for (; i < css.size() && depth > 0; ++i) {
            depth += css[i] == '{' ? 1 : css[i] == '}' ? -1 : 0;
        }
        if (depth != 0) {
            ADD_FAILURE() << "unclosed block: " << selector;
            return;
        }
        const auto body = css.substr(open + 1, i - open - 2);
        if (selector.starts_with("@media")) {
            collectRules(body, selector, rules);
        } else {
            Rule rule{media, selector, {}};
            std::size_t from = 0;
            while (from < body.size()) {
                const auto semicolon = std::min(body.find(';', from), body.size());
                const auto declaration = body.substr(from, semicolon - from);
                from = semicolon + 1;
                if (trim(declaration).empty()) {
                    continue;
                }
                const auto colon = declaration.find(':');
                EXPECT_NE(colon, std::string_view::npos) << "in " << selector << ": " << declaration;
                if (colon != std::string_view::npos) {
                    rule.declarations[trim(declaration.substr(0, colon))] =
                        trim(declaration.substr(colon + 1));
                }
            }
            rules.push_back(std::move(rule));
        }
        at = i;
    }
}

std::vector<Rule> readRules(std::string_view css) {
    std::vector<Rule> rules;
    collectRules(css, "", rules);
    return rules;
}

const Rule* findRule(const std::vector<Rule>& rules, std::string_view selector, std::string_view media = "") {
    for (const auto& rule : rules) {
        if (rule.selector == selector && rule.media == media) {
            return &rule;
        }
    }
    return nullptr;
}

bool mentionsClass(std::string_view selector, std::string_view name) {
    const std::string needle = "." + std::string(name);
    for (auto at = selector.find(needle); at != std::string_view::npos; at = selector.find(needle, at + 1)) {
        const auto next = at + needle.size();
        if (next == selector.size() || !(std::isalnum(static_cast<unsigned char>(selector[next])) ||
                                         selector[next] == '-' || selector[next] == '_')) {
            return true;
        }
    }
    return false;
}

// ---- head ----

TEST(PageStyleHeadTest, OpensWithDoctypeLangAndCharsetThenLineBreak) {
    EXPECT_TRUE(PageStyle::head("Tesk").starts_with(
        "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\">\n<meta name=\"viewport\""));
}

TEST(PageStyleHeadTest, HtmlAttributesFollowLangDirectly) {
    const auto head = PageStyle::head("Tesk", "", " class=\"standalone\" data-x=\"1\"");
    EXPECT_TRUE(head.starts_with("<!doctype html><html lang=\"en\" class=\"standalone\" data-x=\"1\"><head>"
                                 "<meta charset=\"utf-8\">\n"))
        << head.substr(0, 120);
}

TEST(PageStyleHeadTest, PartsComeInOrderAndEndWithHeadClose) {
    const std::string extra = "<link rel=\"manifest\" href=\"manifest.json\">";
    const auto head = PageStyle::head("Photos", extra);
    const std::array<std::string, 8> parts = {
        "<meta charset=\"utf-8\">\n",
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1, viewport-fit=cover\">",
        "<meta name=\"theme-color\" content=\"#F6F6F8\" media=\"(prefers-color-scheme: light)\">",
        "<meta name=\"theme-color\" content=\"#2C2C2E\" media=\"(prefers-color-scheme: dark)\">",
        "<title>Photos</title>",
        extra,
        "<style>",
        "</style>",
    };
    std::size_t previous = 0;
    for (const auto& part : parts) {
        const auto at = head.find(part, previous);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << part;
        EXPECT_EQ(occurrences(head, part), 1u) << part;
        previous = at + part.size();
    }
    EXPECT_TRUE(head.ends_with("</head>"));
    EXPECT_EQ(head.find("<body"), std::string::npos);
}

TEST(PageStyleHeadTest, TitleExtraAndAttributesAreInsertedUnchanged) {
    // Callers escape; a builder that escaped again would show "&amp;amp;" on the phone.
    const std::string title = "Q&amp;A · “Ferien” <b>";
    const std::string extra = "<meta name=\"apple-mobile-web-app-capable\" content=\"yes\">\n"
                              "<link rel=\"apple-touch-icon\" href=\"/icon.png\">\n";
    const std::string attributes = " data-token=\"a&b\"";
    const auto head = PageStyle::head(title, extra, attributes);
    EXPECT_NE(head.find("<title>" + title + "</title>\n" + extra + "<style>"), std::string::npos);
    EXPECT_NE(head.find("<html lang=\"en\"" + attributes + "><head>"), std::string::npos);
}

TEST(PageStyleHeadTest, WithoutExtraTheWholeStyleSheetFollowsTheTitle) {
    const auto head = PageStyle::head("Tesk");
    const std::string sheet(PageStyle::styleSheet());
    ASSERT_GT(sheet.size(), 1000u);
    EXPECT_TRUE(head.ends_with("<title>Tesk</title>\n<style>" + sheet + "</style>\n</head>"));
    EXPECT_EQ(occurrences(head, "<style"), 1u);
}

// ---- style sheet ----

struct ThemeColour {
    const char* property;
    const char* light;
    const char* dark;
};

constexpr std::array<ThemeColour, 15> themeColours = {{
    {"--bg", "#FFFFFF", "#1E1E1E"},
    {"--bar", "rgba(246,246,248,.82)", "rgba(44,44,46,.82)"},
    {"--text", "#1D1D1F", "#F5F5F7"},
    {"--dim", "rgba(60,60,67,.62)", "rgba(235,235,245,.6)"},
    {"--sep", "rgba(60,60,67,.14)", "rgba(255,255,255,.10)"},
    {"--fill", "rgba(118,118,128,.12)", "rgba(118,118,128,.24)"},
    {"--hover", "rgba(0,0,0,.04)", "rgba(255,255,255,.05)"},
    {"--accent", "#007AFF", "#0A84FF"},
    {"--accentSoft", "rgba(0,122,255,.12)", "rgba(10,132,255,.22)"},
    {"--green", "#34C759", "#30D158"},
    {"--greenText", "#1E7B34", "#30D158"},
    {"--red", "#D70015", "#FF453A"},
    {"--purple", "#AF52DE", "#BF5AF2"},
    {"--orange", "#C77700", "#FF9F0A"},
    {"--float", "rgba(255,255,255,.92)", "rgba(58,58,60,.92)"},
}};

constexpr std::string_view darkMedia = "@media (prefers-color-scheme: dark)";

TEST(PageStyleSheetTest, RootDefinesEveryLightColour) {
    const auto rules = readRules(PageStyle::styleSheet());
    const Rule* light = findRule(rules, ":root");
    ASSERT_NE(light, nullptr);
    for (const auto& colour : themeColours) {
        const auto found = light->declarations.find(colour.property);
        ASSERT_NE(found, light->declarations.end()) << colour.property;
        EXPECT_EQ(found->second, colour.light) << colour.property;
    }
}

TEST(PageStyleSheetTest, DarkSchemeRedefinesEveryColour) {
    const auto rules = readRules(PageStyle::styleSheet());
    const Rule* dark = findRule(rules, ":root", darkMedia);
    ASSERT_NE(dark, nullptr) << "no :root inside " << darkMedia;
    for (const auto& colour : themeColours) {
        const auto found = dark->declarations.find(colour.property);
        ASSERT_NE(found, dark->declarations.end()) << colour.property;
        EXPECT_EQ(found->second, colour.dark) << colour.property;
    }
    // Only the colours switch with the scheme: the layout must not differ between light and dark.
    for (const auto& rule : rules) {
        if (rule.media == darkMedia) {
            EXPECT_EQ(rule.selector, ":root");
        }
    }
}

TEST(PageStyleSheetTest, EveryColourUsedIsDefined) {
    // A misspelt var() silently falls back to nothing: a white-on-white button.
    const std::string_view sheet = PageStyle::styleSheet();
    std::set<std::string> defined;
    for (const auto& colour : themeColours) {
        defined.insert(colour.property);
    }
    std::size_t uses = 0;
    for (auto at = sheet.find("var("); at != std::string_view::npos; at = sheet.find("var(", at + 1)) {
        const auto close = sheet.find_first_of(",)", at);
        ASSERT_NE(close, std::string_view::npos);
        const std::string name(sheet.substr(at + 4, close - at - 4));
        EXPECT_TRUE(defined.contains(name)) << "undefined " << name;
        ++uses;
    }
    EXPECT_GT(uses, 20u);
}

TEST(PageStyleSheetTest, EveryClassOfThePagesHasARule) {
    const auto rules = readRules(PageStyle::styleSheet());
    constexpr std::array<std::string_view, 35> classes = {
        "bar",      "brand",     "mark",        "status", "dot",  "off",   "crumbs", "sub",    "label",
        "list",     "row",       "tile",        "folder", "main", "name",  "meta",   "note",   "chev",
        "icon-btn", "btn",       "soft",        "small",  "card", "drop",  "steps",  "float",  "what",
        "up",       "bar-track", "status-line", "ok",     "err",  "empty", "notice", "hidden",
    };
    for (const auto name : classes) {
        bool found = false;
        for (const auto& rule : rules) {
            found = found || mentionsClass(rule.selector, name);
        }
        EXPECT_TRUE(found) << "no rule for ." << name;
    }
}

TEST(PageStyleSheetTest, KeyBehaviourOfTheClasses) {
    // Written as CSS: each declaration must appear with this value in the rule of the same selector.
    const auto expected = readRules(R"(
.hidden{display:none!important}
.bar{position:sticky;z-index:5;backdrop-filter:saturate(180%) blur(24px)}
.brand{gap:8px}
.mark{width:22px;height:22px;fill:var(--accent)}
.dot{width:7px;height:7px;border-radius:50%;background:var(--green)}
.dot.off{background:var(--orange)}
.status-line.ok{color:var(--greenText)}
.status-line.err{color:var(--red)}
.tile{width:40px;height:40px;border-radius:9px;background:var(--fill)}
.tile.folder{background:var(--accentSoft)}
.row{min-height:56px}
.row:last-child{border-bottom:0}
.icon-btn{width:36px;height:36px;border-radius:50%}
.btn{border-radius:12px;padding:13px;background:var(--accent)}
.btn:disabled{opacity:.55}
.float{position:fixed;max-width:616px;box-shadow:0 10px 30px rgba(0,0,0,.18)}
.bar-track{height:5px}
main{max-width:640px}
h1{font-size:26px;line-height:1.15}
.notice{max-width:480px}
.notice h1{font-size:22px})");
    ASSERT_EQ(expected.size(), 21u);
    const auto rules = readRules(PageStyle::styleSheet());
    for (const auto& want : expected) {
        const Rule* rule = findRule(rules, want.selector);
        ASSERT_NE(rule, nullptr) << want.selector;
        for (const auto& [property, value] : want.declarations) {
            const auto found = rule->declarations.find(property);
            EXPECT_TRUE(found != rule->declarations.end() && found->second == value)
                << want.selector << " has no " << property << ":" << value;
        }
    }
}

TEST(PageStyleSheetTest, CannotEndTheStyleElementEarly) {
    EXPECT_EQ(PageStyle::styleSheet().find("</"), std::string_view::npos);
}

// ---- top bar and brand mark ----

TEST(PageStyleTopBarTest, HeaderHoldsBrandThenStatus) {
    const std::string_view bar = PageStyle::topBar();
    EXPECT_TRUE(bar.starts_with("<header class=\"bar\">"));
    EXPECT_TRUE(bar.ends_with("</header>"));
    EXPECT_EQ(nestingError("<html>" + std::string(bar) + "</html>"), "");
    const auto brand = bar.find("<div class=\"brand\">");
    const auto status = bar.find("<div class=\"status\">");
    ASSERT_NE(brand, std::string_view::npos);
    ASSERT_NE(status, std::string_view::npos);
    EXPECT_LT(brand, status);
    // The mark comes first in the brand, the product name right after it.
    EXPECT_NE(bar.find("<div class=\"brand\">" + std::string(PageStyle::brandMark()) + "Tesk</div>"),
              std::string_view::npos);
}

TEST(PageStyleTopBarTest, StatusHasTheLightAndTheMacLine) {
    const std::string_view bar = PageStyle::topBar();
    const auto tags = readTags(bar);
    const Tag* dot = findTag(tags, "span", "id", "dot");
    ASSERT_NE(dot, nullptr);
    EXPECT_EQ(dot->attributes.at("class"), "dot");
    EXPECT_EQ(textAfter(bar, *dot), "");
    const Tag* mac = findTag(tags, "span", "id", "mac");
    ASSERT_NE(mac, nullptr);
    EXPECT_EQ(textAfter(bar, *mac), "On this Wi-Fi");
    // Both inside the status block, the light first.
    const auto status = bar.find("<div class=\"status\">");
    EXPECT_LT(status, bar.find("id=\"dot\""));
    EXPECT_LT(bar.find("id=\"dot\""), bar.find("id=\"mac\""));
}

TEST(PageStyleTopBarTest, MarkIsAHiddenSvgOfTwoExactPieces) {
    const std::string_view mark = PageStyle::brandMark();
    const auto tags = readTags(mark);
    ASSERT_FALSE(tags.empty());
    const Tag& svg = tags.front();
    EXPECT_EQ(svg.name, "svg");
    EXPECT_EQ(svg.attributes.at("class"), "mark");
    EXPECT_EQ(svg.attributes.at("viewBox"), "0 0 256 256");
    EXPECT_EQ(svg.attributes.at("aria-hidden"), "true");
    std::vector<std::string> pieces;
    for (const auto& tag : tags) {
        if (tag.name == "path") {
            pieces.push_back(tag.attributes.at("d"));
        }
    }
    EXPECT_EQ(pieces, (std::vector<std::string>{std::string(leftPiece), std::string(rightPiece)}));
    EXPECT_TRUE(mark.ends_with("</svg>"));
    EXPECT_EQ(nestingError("<html>" + std::string(mark) + "</html>"), "");
}

// ---- notice ----

TEST(PageStyleNoticeTest, IsHeadBodyBarAndMessageWithTextsUnchanged) {
    const std::string title = "This pairing code ran out";
    const std::string text = "Make a new one in Tesk on the Mac: Phones → Pair a phone.";
    EXPECT_EQ(PageStyle::notice(title, text),
              PageStyle::head("Tesk") + "<body>" + std::string(PageStyle::topBar()) +
                  "<div class=\"notice\"><h1>" + title + "</h1><p>" + text + "</p></div></body></html>");
}

TEST(PageStyleNoticeTest, DocumentIsWellNested) {
    const auto page =
        PageStyle::notice("Tesk", "This Mac shares files with Tesk. Ask its owner for a link or a "
                                  "QR code.");
    EXPECT_EQ(nestingError(page), "");
    const auto tags = readTags(page);
    std::map<std::string, int> opened;
    for (const auto& tag : tags) {
        opened[tag.name] += tag.closing ? 0 : 1;
    }
    for (const auto* once : {"html", "head", "body", "title", "style", "header", "h1", "p", "svg"}) {
        EXPECT_EQ(opened[once], 1) << once;
    }
    EXPECT_EQ(opened["script"], 0);
}

TEST(PageStyleNoticeTest, NestingCheckCatchesBrokenMarkup) {
    // The structure tests above are only worth something if the checker can say no.
    EXPECT_NE(nestingError("<html><div><p></div></p></html>"), "");
    EXPECT_NE(nestingError("<html><div></html>"), "");
    EXPECT_NE(nestingError("<html></html></div>"), "");
    EXPECT_EQ(nestingError("<!doctype html><html><head><meta charset=\"utf-8\"><style>a>b{}</style></head>"
                           "<body><svg><path d=\"M0\"/></svg></body></html>"),
              "");
}

} // namespace
