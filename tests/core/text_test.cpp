#include "core/text.h"

#include "core/ascii.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// The names tests run trimming, repair, white space and byte cuts through safe names and classification;
// these rows are the cases they do not reach.
TEST(TextTest, FormatCharactersCaseMappingAndClusters) {
    EXPECT_EQ(
        Text::removingControlCharacters(std::string("a\0", 2) + "\t\x7f\u0085\u200B\u00AD\uFEFF\u202E" + "b"),
        "ab");
    // Not the Turkish dotless i, and the final sigma.
    EXPECT_EQ(Text::lowercased("\u00C4 I \u039F\u03A3"), "\u00E4 i \u03BF\u03C2");
    // Eleven bytes would hold half the flag.
    EXPECT_EQ(Text::prefixWithinBytes("ae\u0301\U0001F1E9\U0001F1EA", 11), "ae\u0301");
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
