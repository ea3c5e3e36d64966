#include "core/text.h"

#include "core/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

std::string repeated(std::string_view piece, std::size_t count) {
    std::string result;
    for (std::size_t index = 0; index < count; ++index) {
        result += piece;
    }
    return result;
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

const std::string flagDE = "\U0001F1E9\U0001F1EA";
const std::string thumbsUpMedium = "\U0001F44D\U0001F3FD";
const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
const std::string eAcute = "e\u0301";

} // namespace

TEST(TextTest, CharacterCountCountsUserPerceivedCharacters) {
    struct Case {
        std::string text;
        std::size_t count;
    };
    const std::vector<Case> cases = {
        {"", 0},
        {"abc", 3},
        {eAcute, 1},
        {repeated(eAcute, 4), 4},
        {flagDE, 1},
        {flagDE + flagDE, 2},
        {thumbsUpMedium, 1},
        {family, 1},
        {"\r\n", 1},
        {"\u3042\u3044\u3046", 3},
        {"a\xff"
         "b",
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Text::characterCount(c.text), c.count);
    }
}

TEST(TextTest, ScalarCountCountsCodePoints) {
    struct Case {
        std::string text;
        std::size_t count;
    };
    const std::vector<Case> cases = {
        {"", 0},
        {"abc", 3},
        {eAcute, 2},
        {flagDE, 2},
        {thumbsUpMedium, 2},
        {family, 5},
        {"\u3042", 1},
        {"a\xff"
         "b",
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Text::scalarCount(c.text), c.count);
    }
}

TEST(TextTest, PrefixCharactersKeepsWholeClusters) {
    struct Case {
        std::string text;
        std::size_t count;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"abc", 0, ""},
        {"abc", 2, "ab"},
        {"abc", 3, "abc"},
        {"abc", 10, "abc"},
        {eAcute + "x" + eAcute, 1, eAcute},
        {eAcute + "x" + eAcute, 2, eAcute + "x"},
        {flagDE + flagDE, 1, flagDE},
        {family + "z", 1, family},
        {"", 5, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " / " + std::to_string(c.count));
        EXPECT_EQ(Text::prefixCharacters(c.text, c.count), c.expected);
    }
}

TEST(TextTest, PrefixScalarsCutsBetweenCodePoints) {
    struct Case {
        std::string text;
        std::size_t count;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"abc", 0, ""},
        {"abc", 2, "ab"},
        {"abc", 10, "abc"},
        {eAcute, 1, "e"},
        {flagDE, 1, "\U0001F1E9"},
        {"\U0001F600\U0001F601", 1, "\U0001F600"},
        {"\u3042\u3044", 1, "\u3042"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " / " + std::to_string(c.count));
        EXPECT_EQ(Text::prefixScalars(c.text, c.count), c.expected);
    }
}

TEST(TextTest, PrefixWithinBytesKeepsWholeClusters) {
    struct Case {
        std::string text;
        std::size_t maxBytes;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"abc", 0, ""},
        {"abc", 2, "ab"},
        {"abc", 3, "abc"},
        {"abc", 100, "abc"},
        {eAcute + eAcute, 5, eAcute},
        {eAcute + eAcute, 2, ""},
        {"\u3042\u3044", 5, "\u3042"},
        {"\u3042\u3044", 6, "\u3042\u3044"},
        {flagDE + flagDE, 15, flagDE},
        {family, family.size() - 1, ""},
        {"x" + family, family.size(), "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " / " + std::to_string(c.maxBytes));
        EXPECT_EQ(Text::prefixWithinBytes(c.text, c.maxBytes), c.expected);
    }
}

TEST(TextTest, PrefixWithinBytesIsTheLongestFittingPrefixForEveryLimit) {
    const std::string text = "a" + eAcute + flagDE + "\u3042" + family + thumbsUpMedium + "z";
    for (std::size_t maxBytes = 0; maxBytes <= text.size() + 1; ++maxBytes) {
        SCOPED_TRACE(maxBytes);
        const std::string prefix = Text::prefixWithinBytes(text, maxBytes);
        EXPECT_LE(prefix.size(), maxBytes);
        EXPECT_TRUE(text.starts_with(prefix));
        const std::size_t characters = Text::characterCount(prefix);
        EXPECT_EQ(prefix, Text::prefixCharacters(text, characters));
        if (prefix != text) {
            EXPECT_GT(Text::prefixCharacters(text, characters + 1).size(), maxBytes);
        }
    }
}

TEST(TextTest, TrimmedStripsUnicodeWhiteSpaceAtBothEnds) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"   ", ""},
        {" a ", "a"},
        {"\n\t a b \r\n", "a b"},
        {"\u3000wide\u3000", "wide"},
        {"\u00A0nbsp\u00A0", "nbsp"},
        {"\u2028x\u2029", "x"},
        {"\u0085x\v\f", "x"},
        {"\u2003x\u202F", "x"},
        {"\u200Bx", "\u200Bx"},
        {"inner  space", "inner  space"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Text::trimmed(c.text), c.expected);
    }
}

TEST(TextTest, ContainsWhitespaceFindsAnyUnicodeWhiteSpace) {
    struct Case {
        std::string text;
        bool expected;
    };
    const std::vector<Case> cases = {
        {"", false},         {"abc", false},          {"a b", true},      {"a\tb", true},
        {"a\nb", true},      {"a\u3000b", true},      {"a\u00A0b", true}, {"a\u2028b", true},
        {"a\u200Bb", false}, {"\u3042\u3044", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Text::containsWhitespace(c.text), c.expected);
    }
}

TEST(TextTest, RemovingControlCharactersDropsControlAndFormatScalars) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"plain", "plain"},
        {"a\tb\nc", "abc"},
        {std::string("a\0b", 3), "ab"},
        {"a\x7f"
         "b",
         "ab"},
        {"a\u0085b", "ab"},
        {"a\u200Bb", "ab"},
        {"soft\u00ADhyphen", "softhyphen"},
        {"\uFEFFbom", "bom"},
        {"\u202Eevil", "evil"},
        {eAcute + "\u3042", eAcute + "\u3042"},
        {family, "\U0001F468\U0001F469\U0001F467"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Text::removingControlCharacters(c.text), c.expected);
    }
}

TEST(TextTest, LowercasedUsesFullLocaleIndependentMapping) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"ABC def", "abc def"},
        {"\u00C4RGER", "\u00E4rger"},
        // Not Turkish dotless i, whatever the user's locale.
        {"I", "i"},
        // Full mapping: U+0130 becomes two scalars.
        {"\u0130", "i\u0307"},
        // Final sigma depends on context.
        {"\u039F\u0394\u039F\u03A3", "\u03BF\u03B4\u03BF\u03C2"},
        {"\u3042", "\u3042"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Text::lowercased(c.text), c.expected);
    }
}

TEST(TextTest, ValidUTF8ReplacesInvalidSequences) {
    EXPECT_EQ(Text::validUTF8("caf\u00E9 " + flagDE), "caf\u00E9 " + flagDE);
    EXPECT_EQ(Text::validUTF8("a\xff"
                              "b"),
              "a\uFFFD"
              "b");
    EXPECT_EQ(Text::validUTF8("end\xe3\x81"), "end\uFFFD");

    const std::vector<std::string> broken = {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80\x80",
                                             "\xfe"};
    for (const auto& text : broken) {
        SCOPED_TRACE(testing::PrintToString(text));
        const std::string repaired = Text::validUTF8(text);
        EXPECT_TRUE(UTF8::isValid(repaired));
        EXPECT_NE(repaired.find("\uFFFD"), std::string::npos);
    }
}

TEST(TextTest, CompareLocalizedOrdersNumbersByValueIgnoringCase) {
    EXPECT_LT(Text::compareLocalized("a 1", "A 2"), 0);
    EXPECT_LT(Text::compareLocalized("A 2", "a 10"), 0);
    EXPECT_LT(Text::compareLocalized("Folder 2", "Folder 10"), 0);
    EXPECT_GT(Text::compareLocalized("Folder 10", "Folder 2"), 0);
    EXPECT_EQ(Text::compareLocalized("abc", "ABC"), 0);
    EXPECT_EQ(Text::compareLocalized("", ""), 0);
    EXPECT_LT(Text::compareLocalized("", "a"), 0);
    // Accents count, unlike case.
    EXPECT_NE(Text::compareLocalized("e", "\u00E9"), 0);
    EXPECT_LT(Text::compareLocalized("e", "\u00E9"), 0);

    std::vector<std::string> names = {"a 10", "Folder 10", "A 2", "b", "Folder 2", "a 1", "Folder 1"};
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return Text::compareLocalized(a, b) < 0;
    });
    EXPECT_EQ(names,
              (std::vector<std::string>{"a 1", "A 2", "a 10", "b", "Folder 1", "Folder 2", "Folder 10"}));
}

TEST(TextTest, CompareLocalizedIsAntisymmetric) {
    const std::vector<std::string> names = {"a", "A", "b", "\u00E4", "x 9", "x 10", "", "\u3042", "Z"};
    for (const auto& a : names) {
        for (const auto& b : names) {
            SCOPED_TRACE(a + " / " + b);
            EXPECT_EQ(sign(Text::compareLocalized(a, b)), -sign(Text::compareLocalized(b, a)));
        }
    }
}

TEST(TextTest, CompareLocalizedGivesTheSameAnswersOnEveryThread) {
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"a 1", "A 2"}, {"A 2", "a 10"}, {"abc", "ABC"}, {"Folder 10", "Folder 2"}, {"e", "\u00E9"}};
    std::vector<int> expected;
    for (const auto& [a, b] : pairs) {
        expected.push_back(sign(Text::compareLocalized(a, b)));
    }
    std::vector<std::vector<int>> seen(4);
    std::vector<std::thread> threads;
    for (auto& results : seen) {
        threads.emplace_back([&pairs, &results] {
            for (int round = 0; round < 200; ++round) {
                for (const auto& [a, b] : pairs) {
                    results.push_back(sign(Text::compareLocalized(a, b)));
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& results : seen) {
        ASSERT_EQ(results.size(), 200 * pairs.size());
        for (std::size_t index = 0; index < results.size(); ++index) {
            ASSERT_EQ(results[index], expected[index % pairs.size()]) << index;
        }
    }
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
        {"sv_SE.UTF-8", nullptr, nullptr, true},
        {"sv_SE.ISO-8859-1@euro", nullptr, nullptr, true},
        {"", "sv_SE.UTF-8", "en_US.UTF-8", true},
        {nullptr, nullptr, "sv_SE", true},
        {"en_US.UTF-8", "sv_SE.UTF-8", "sv_SE.UTF-8", false},
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
