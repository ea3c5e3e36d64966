#include "core/text.h"

#include "core/ascii.h"
#include "core/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string flagDE = "\U0001F1E9\U0001F1EA";
const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
const std::string eAcute = "e\u0301";

} // namespace

TEST(TextTest, PrefixWithinBytesIsTheLongestPrefixOfWholeCharactersThatFits) {
    const std::string text = "a" + eAcute + flagDE + "\u3042" + family + "\U0001F44D\U0001F3FD" + "z";
    EXPECT_EQ(Text::characterCount(text + "\r\n" + "\xff"), 9u);
    for (std::size_t maxBytes = 0; maxBytes <= text.size() + 1; ++maxBytes) {
        const std::string prefix = Text::prefixWithinBytes(text, maxBytes);
        const std::size_t characters = Text::characterCount(prefix);
        EXPECT_LE(prefix.size(), maxBytes);
        EXPECT_EQ(prefix, Text::prefixCharacters(text, characters)) << maxBytes;
        EXPECT_TRUE(prefix == text || Text::prefixCharacters(text, characters + 1).size() > maxBytes)
            << maxBytes;
    }
}

TEST(TextTest, WhiteSpaceControlsCaseAndRepair) {
    EXPECT_EQ(Text::trimmed("\n\t\u3000\u00A0a  b\u2028\u0085\v"), "a  b");
    EXPECT_EQ(Text::trimmed("\u200Bx"), "\u200Bx"); // zero width space is not white space
    EXPECT_TRUE(Text::containsWhitespace("a\u3000b"));
    EXPECT_FALSE(Text::containsWhitespace("a\u200Bb"));
    EXPECT_EQ(
        Text::removingControlCharacters(std::string("a\0", 2) + "\t\x7f\u0085\u200B\u00AD\uFEFF\u202E" + "b"),
        "ab");
    EXPECT_EQ(Text::removingControlCharacters(eAcute + family), eAcute + "\U0001F468\U0001F469\U0001F467");
    EXPECT_EQ(Text::lowercased("\u00C4RGER I"), "\u00E4rger i"); // not Turkish dotless i
    EXPECT_EQ(Text::lowercased("\u0130"), "i\u0307");
    EXPECT_EQ(Text::lowercased("\u039F\u0394\u039F\u03A3"), "\u03BF\u03B4\u03BF\u03C2"); // final sigma
    EXPECT_EQ(Text::validUTF8("caf\u00E9 " + flagDE), "caf\u00E9 " + flagDE);
    EXPECT_EQ(Text::validUTF8("end\xe3\x81"), "end\uFFFD");
    for (const std::string text : {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80\x80"}) {
        const std::string repaired = Text::validUTF8(text);
        EXPECT_TRUE(UTF8::isValid(repaired) && repaired.find("\uFFFD") != std::string::npos)
            << testing::PrintToString(text);
    }
}

TEST(TextTest, CompareLocalizedOrdersNumbersByValueIgnoringCase) {
    EXPECT_EQ(Text::compareLocalized("abc", "ABC"), 0);
    EXPECT_LT(Text::compareLocalized("e", "\u00E9"), 0); // accents count, unlike case
    std::vector<std::string> names = {"a 10", "Folder 10", "A 2", "b", "Folder 2", "a 1", ""};
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return Text::compareLocalized(a, b) < 0;
    });
    EXPECT_EQ(names, (std::vector<std::string>{"", "a 1", "A 2", "a 10", "b", "Folder 2", "Folder 10"}));
}

// The neighbours of the ranges ('/', ':', '@', '[', '`', '{', 'G', 'g') catch an off-by-one bound, and the
// high bytes catch a sign-extended char read as a letter or shifted by case mapping.
TEST(AsciiTest, ClassifiesAndMapsEveryBoundary) {
    const std::string bytes("/09:@AFGZ[`afgz{\0\x7f\x80\xc1\xe1\xff", 22);
    const std::string digits = "0110000000000000000000";
    const std::string alphas = "0000011110011110000000";
    const std::vector<int> hex = {-1, 0,  9,  -1, -1, 10, 15, -1, -1, -1, -1,
                                  10, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int(static_cast<unsigned char>(c)));
        EXPECT_EQ(Ascii::isDigit(c), digits[i] == '1');
        EXPECT_EQ(Ascii::isAlpha(c), alphas[i] == '1');
        EXPECT_EQ(Ascii::isAlnum(c), digits[i] == '1' || alphas[i] == '1');
        EXPECT_EQ(Ascii::hexValue(c), hex[i]);
        EXPECT_EQ(Ascii::isHexDigit(c), hex[i] >= 0);
        EXPECT_EQ(Ascii::lower(c), c >= 'A' && c <= 'Z' ? c + 32 : c);
        EXPECT_EQ(Ascii::upper(c), c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    EXPECT_EQ(Ascii::lowercased("Content-Type \u00c4 Z9"), "content-type \u00c4 z9"); // not "ä": only ASCII
    EXPECT_FALSE(Ascii::equalsIgnoringCase("@", "`")); // 0x40 and 0x60 differ only in the case bit
}
