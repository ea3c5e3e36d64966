// The launcher's Home Screen icon and the PNG encoder behind it, checked by decoding the bytes: every
// chunk and its CRC, the header, then the pixels after inflating.
#include "relay/relay_icon.h"

#include "relay/png_encoder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>
#include <zlib.h>

namespace {

using RGB = std::array<int, 3>;

std::uint32_t bigEndian(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

/// An 8-bit, non-interlaced, unfiltered RGB PNG as a reader sees it; any fault fails the test.
struct Decoded {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;

    explicit Decoded(std::string_view png) {
        EXPECT_EQ(png.substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
        std::string compressed;
        std::vector<std::string> types;
        std::size_t at = 8;
        while (at + 12 <= png.size()) {
            const std::uint32_t length = bigEndian(png, at);
            const std::string_view chunk = png.substr(at + 4, 4 + length);
            const auto crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), chunk.size());
            EXPECT_EQ(bigEndian(png, at + 8 + length), crc) << "chunk " << chunk.substr(0, 4);
            types.emplace_back(chunk.substr(0, 4));
            if (types.back() == "IHDR") {
                width = bigEndian(chunk, 4);
                height = bigEndian(chunk, 8);
                EXPECT_EQ(chunk.substr(12), std::string_view("\x08\x02\x00\x00\x00", 5)) << "8-bit RGB";
            } else if (types.back() == "IDAT") {
                compressed += chunk.substr(4);
            }
            at += 12 + length;
        }
        EXPECT_EQ(at, png.size()) << "bytes after the last chunk";
        EXPECT_TRUE(!types.empty() && types.front() == "IHDR" && types.back() == "IEND");
        const std::size_t stride = std::size_t{width} * 3 + 1;
        std::vector<Bytef> raw(stride * height);
        uLongf size = raw.size();
        EXPECT_EQ(uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(compressed.data()),
                             compressed.size()),
                  Z_OK);
        EXPECT_EQ(size, raw.size());
        for (std::uint32_t row = 0; row < height; ++row) {
            EXPECT_EQ(raw[row * stride], 0) << "filter type of row " << row;
            rgb.insert(rgb.end(), raw.begin() + row * stride + 1, raw.begin() + (row + 1) * stride);
        }
    }

    RGB at(std::uint32_t x, std::uint32_t y) const {
        const std::size_t index = (std::size_t{y} * width + x) * 3;
        return {rgb[index], rgb[index + 1], rgb[index + 2]};
    }
};

constexpr RGB blue{0, 122, 255};
constexpr RGB white{255, 255, 255};

} // namespace

TEST(RelayIconTest, DrawsTheWhiteMarkOnBlueLiftedAboveCentre) {
    const Decoded icon(RelayIcon::png());
    ASSERT_EQ(icon.width, 180u);
    ASSERT_EQ(icon.height, 180u);
    EXPECT_EQ(icon.at(0, 0), blue);
    EXPECT_EQ(icon.at(179, 179), blue);
    // The mark's square is 104 px from (38, 36); its left piece and the gap beside it.
    EXPECT_EQ(icon.at(66, 88), white);
    EXPECT_EQ(icon.at(87, 88), blue);
    int top = -1;
    int bottom = -1;
    for (std::uint32_t y = 0; y < 180; ++y) {
        for (std::uint32_t x = 0; x < 180; ++x) {
            if (icon.at(x, y) != blue) {
                top = top < 0 ? static_cast<int>(y) : top;
                bottom = static_cast<int>(y);
            }
        }
    }
    // The disc spans units 24 to 232: rows 45.75 to 130.25 lifted two pixels, 47.75 to 132.25 centred.
    EXPECT_EQ(top, 45);
    EXPECT_EQ(bottom, 130);
}

TEST(RelayIconTest, EncoderKeepsEveryPixelAndRefusesAWrongSize) {
    const std::vector<std::uint8_t> rgb{1, 2, 3, 4, 5, 6, 7, 8, 9, 250, 251, 252};
    const Decoded image(PNGEncoder::encodeRGB(2, 2, rgb));
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.rgb, rgb);
    EXPECT_THROW(PNGEncoder::encodeRGB(2, 2, std::vector<std::uint8_t>(11)), std::invalid_argument);
}
