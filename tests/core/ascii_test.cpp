#include "core/ascii.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Each row is a byte with what every test and mapping must say about it. The neighbours of the
// ranges ('/', ':', '@', '[', '`', '{', 'G', 'g') catch an off-by-one bound, and the high bytes catch a
// sign-extended char read as a letter or shifted by case mapping.
TEST(AsciiTest, ClassifiesAndMapsEveryBoundary) {
    struct Row {
        char c;
        bool digit;
        bool alpha;
        int hex;
        char lower;
        char upper;
    };
    const Row rows[] = {
        {'/', false, false, -1, '/', '/'},
        {'0', true, false, 0, '0', '0'},
        {'9', true, false, 9, '9', '9'},
        {':', false, false, -1, ':', ':'},
        {'@', false, false, -1, '@', '@'},
        {'A', false, true, 10, 'a', 'A'},
        {'F', false, true, 15, 'f', 'F'},
        {'G', false, true, -1, 'g', 'G'},
        {'Z', false, true, -1, 'z', 'Z'},
        {'[', false, false, -1, '[', '['},
        {'`', false, false, -1, '`', '`'},
        {'a', false, true, 10, 'a', 'A'},
        {'f', false, true, 15, 'f', 'F'},
        {'g', false, true, -1, 'g', 'G'},
        {'z', false, true, -1, 'z', 'Z'},
        {'{', false, false, -1, '{', '{'},
        {'\0', false, false, -1, '\0', '\0'},
        {'\x7f', false, false, -1, '\x7f', '\x7f'},
        {'\x80', false, false, -1, '\x80', '\x80'},
        {'\xc1', false, false, -1, '\xc1', '\xc1'}, // 'A' + 0x80
        {'\xe1', false, false, -1, '\xe1', '\xe1'}, // 'a' + 0x80
        {'\xff', false, false, -1, '\xff', '\xff'},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int(static_cast<unsigned char>(row.c)));
        EXPECT_EQ(Ascii::isDigit(row.c), row.digit);
        EXPECT_EQ(Ascii::isAlpha(row.c), row.alpha);
        EXPECT_EQ(Ascii::isAlnum(row.c), row.digit || row.alpha);
        EXPECT_EQ(Ascii::hexValue(row.c), row.hex);
        EXPECT_EQ(Ascii::isHexDigit(row.c), row.hex >= 0);
        EXPECT_EQ(Ascii::lower(row.c), row.lower);
        EXPECT_EQ(Ascii::upper(row.c), row.upper);
    }
}

TEST(AsciiTest, WholeStringsMapOnlyASCIILetters) {
    // "Ä" (C3 84) and "ä" (C3 A4) come through unchanged: only ICU-backed Text::lowercased folds them.
    EXPECT_EQ(Ascii::lowercased("Content-Type \u00c4\u00e4 Z9"), "content-type \u00c4\u00e4 z9");
    EXPECT_EQ(Ascii::uppercased("get \u00e4"), "GET \u00e4");
    EXPECT_EQ(Ascii::lowercased(""), "");

    EXPECT_TRUE(Ascii::equalsIgnoringCase("Bearer ", "bEARER "));
    EXPECT_FALSE(Ascii::equalsIgnoringCase("bearer", "bearer "));
    EXPECT_FALSE(Ascii::equalsIgnoringCase("@", "`")); // 0x40 and 0x60 differ only in the case bit
    EXPECT_FALSE(Ascii::equalsIgnoringCase("\u00c4", "\u00e4"));
}

} // namespace
