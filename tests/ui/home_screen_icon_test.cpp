// The icon a phone shows for Tesk: its size, its blue, and the white mark placed as designed.
#include "ui/shell/home_screen_icon.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

QImage decodedIcon() {
    const auto png = HomeScreenIcon::png();
    if (!png) {
        return {};
    }
    return QImage::fromData(reinterpret_cast<const uchar*>(png->data()), static_cast<int>(png->size()),
                            "PNG");
}

constexpr QRgb blue = qRgb(0, 122, 255);
constexpr QRgb white = qRgb(255, 255, 255);

TEST(HomeScreenIconTest, IsABlueSquareOf180Pixels) {
    const QImage icon = decodedIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(180, 180));
    EXPECT_EQ(icon.pixel(0, 0) & 0xffffff, blue & 0xffffff);
    EXPECT_EQ(icon.pixel(179, 179) & 0xffffff, blue & 0xffffff);
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 255);
}

TEST(HomeScreenIconTest, MarkIsWhiteAndSitsInItsCircle) {
    const QImage icon = decodedIcon();
    ASSERT_FALSE(icon.isNull());
    // The mark's disc: 104 units of a 256-unit square, the square 104 pixels wide at (38, 36), so the
    // disc's centre is at (94.1, 88) with a radius of 42.25.
    EXPECT_EQ(icon.pixel(70, 88) & 0xffffff, white & 0xffffff) << "left piece";
    EXPECT_EQ(icon.pixel(98, 60) & 0xffffff, white & 0xffffff) << "right piece";
    EXPECT_EQ(icon.pixel(87, 60) & 0xffffff, blue & 0xffffff) << "gap between the pieces";
    EXPECT_EQ(icon.pixel(120, 88) & 0xffffff, blue & 0xffffff) << "notch in the right piece";
    EXPECT_EQ(icon.pixel(47, 88) & 0xffffff, blue & 0xffffff) << "left of the circle";
    EXPECT_EQ(icon.pixel(94, 40) & 0xffffff, blue & 0xffffff) << "above the circle";
}

TEST(HomeScreenIconTest, MarkIsRaisedTwoPixelsFromTheCentre) {
    const QImage icon = decodedIcon();
    ASSERT_FALSE(icon.isNull());
    // The disc spans rows 45.75 to 130.25 once lifted; centred it would span 47.75 to 132.25.
    EXPECT_EQ(icon.pixel(94, 46) & 0xffffff, white & 0xffffff) << "top row reached only when lifted";
    EXPECT_EQ(icon.pixel(94, 131) & 0xffffff, blue & 0xffffff) << "bottom row left free when lifted";
}

} // namespace
