#include "core/text.h"

#include "core/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string flagDE = "\U0001F1E9\U0001F1EA";
const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
const std::string eAcute = "e\u0301";

} // namespace

TEST(TextTest, CountsAndPrefixesKeepClustersOrScalarsWhole) {
    EXPECT_EQ(Text::characterCount(eAcute + flagDE + family + "\r\n" + "a\xff"), 6u);
    EXPECT_EQ(Text::scalarCount(eAcute + flagDE + family), 9u);
    EXPECT_EQ(Text::prefixCharacters(eAcute + "x" + eAcute, 2), eAcute + "x");
    EXPECT_EQ(Text::prefixCharacters(family + "z", 1), family);
    EXPECT_EQ(Text::prefixCharacters("abc", 10), "abc");
    EXPECT_EQ(Text::prefixScalars(flagDE, 1), "\U0001F1E9");
    EXPECT_EQ(Text::prefixScalars(eAcute, 1), "e");
}

TEST(TextTest, PrefixWithinBytesIsTheLongestFittingPrefixForEveryLimit) {
    const std::string text = "a" + eAcute + flagDE + "\u3042" + family + "\U0001F44D\U0001F3FD" + "z";
    for (std::size_t maxBytes = 0; maxBytes <= text.size() + 1; ++maxBytes) {
        SCOPED_TRACE(maxBytes);
        const std::string prefix = Text::prefixWithinBytes(text, maxBytes);
        EXPECT_LE(prefix.size(), maxBytes);
        const std::size_t characters = Text::characterCount(prefix);
        EXPECT_EQ(prefix, Text::prefixCharacters(text, characters));
        if (prefix != text) {
            EXPECT_GT(Text::prefixCharacters(text, characters + 1).size(), maxBytes);
        }
    }
}

TEST(TextTest, WhiteSpaceAndControlCharacters) {
    EXPECT_EQ(Text::trimmed("\n\t\u3000\u00A0a  b\u2028\u0085\v"), "a  b");
    EXPECT_EQ(Text::trimmed("   "), "");
    EXPECT_EQ(Text::trimmed("\u200Bx"), "\u200Bx"); // zero width space is not white space
    EXPECT_TRUE(Text::containsWhitespace("a\u3000b"));
    EXPECT_TRUE(Text::containsWhitespace("a\tb"));
    EXPECT_FALSE(Text::containsWhitespace("a\u200Bb"));
    EXPECT_EQ(
        Text::removingControlCharacters(std::string("a\0", 2) + "\t\x7f\u0085\u200B\u00AD\uFEFF\u202E" + "b"),
        "ab");
    EXPECT_EQ(Text::removingControlCharacters(eAcute + family), eAcute + "\U0001F468\U0001F469\U0001F467");
}

TEST(TextTest, LowercasedUsesFullLocaleIndependentMapping) {
    EXPECT_EQ(Text::lowercased("\u00C4RGER I"), "\u00E4rger i"); // not Turkish dotless i
    EXPECT_EQ(Text::lowercased("\u0130"), "i\u0307");
    EXPECT_EQ(Text::lowercased("\u039F\u0394\u039F\u03A3"), "\u03BF\u03B4\u03BF\u03C2"); // final sigma
}

TEST(TextTest, ValidUTF8ReplacesInvalidSequences) {
    EXPECT_EQ(Text::validUTF8("caf\u00E9 " + flagDE), "caf\u00E9 " + flagDE);
    EXPECT_EQ(Text::validUTF8("a\xff"
                              "b"),
              "a\uFFFD"
              "b");
    EXPECT_EQ(Text::validUTF8("end\xe3\x81"), "end\uFFFD");
    for (const std::string text : {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80\x80"}) {
        const std::string repaired = Text::validUTF8(text);
        EXPECT_TRUE(UTF8::isValid(repaired)) << testing::PrintToString(text);
        EXPECT_NE(repaired.find("\uFFFD"), std::string::npos) << testing::PrintToString(text);
    }
}

TEST(TextTest, CompareLocalizedOrdersNumbersByValueIgnoringCase) {
    EXPECT_EQ(Text::compareLocalized("abc", "ABC"), 0);
    EXPECT_LT(Text::compareLocalized("e", "\u00E9"), 0); // accents count, unlike case
    EXPECT_GT(Text::compareLocalized("\u00E9", "e"), 0);
    std::vector<std::string> names = {"a 10", "Folder 10", "A 2", "b", "Folder 2", "a 1", ""};
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return Text::compareLocalized(a, b) < 0;
    });
    EXPECT_EQ(names, (std::vector<std::string>{"", "a 1", "A 2", "a 10", "b", "Folder 2", "Folder 10"}));
}

TEST(TextTest, CompareLocalizedTakesTheLocaleFromTheEnvironment) {
    // The collator is made once per process, so each environment is tried in a fresh one.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* lcAll;
        const char* lcCollate;
        const char* lang;
        bool swedish;
    };
    // Swedish puts "ä" after "z"; the root order puts it next to "a".
    const std::vector<Case> cases = {
        {"sv_SE.ISO-8859-1@euro", nullptr, nullptr, true},
        {"", "sv_SE.UTF-8", "en_US.UTF-8", true},
        {nullptr, nullptr, "sv_SE", true},
        {"C.UTF-8", "sv_SE.UTF-8", "sv_SE.UTF-8", false},
        {nullptr, "POSIX", "sv_SE.UTF-8", false},
        {nullptr, nullptr, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + " " + (c.lcCollate ? c.lcCollate : "-") + " " +
                     (c.lang ? c.lang : "-"));
        const auto compareInChild = [&c] {
            const auto set = [](const char* name, const char* value) {
                value ? setenv(name, value, 1) : unsetenv(name);
            };
            set("LC_ALL", c.lcAll);
            set("LC_COLLATE", c.lcCollate);
            set("LANG", c.lang);
            std::exit(Text::compareLocalized("\u00E4", "z") > 0 ? 0 : 1);
        };
        EXPECT_EXIT(compareInChild(), testing::ExitedWithCode(c.swedish ? 0 : 1), "");
    }
}
