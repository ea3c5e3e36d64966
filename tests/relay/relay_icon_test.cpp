// The launcher's Home Screen icon, checked from its PNG bytes: structure, then pixels after inflating.
#include "relay/relay_icon.h"

#include "relay/png_encoder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>
#include <zlib.h>

namespace {

std::uint32_t bigEndian(std::string_view bytes, std::size_t at) {
    return (std::uint32_t{static_cast<unsigned char>(bytes[at])} << 24) |
           (std::uint32_t{static_cast<unsigned char>(bytes[at + 1])} << 16) |
           (std::uint32_t{static_cast<unsigned char>(bytes[at + 2])} << 8) |
           std::uint32_t{static_cast<unsigned char>(bytes[at + 3])};
}

struct Chunk {
    std::string type;
    std::string data;
};

/// The chunks after the signature, each checked against its CRC.
std::vector<Chunk> chunks(std::string_view png) {
    std::vector<Chunk> found;
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::uint32_t length = bigEndian(png, at);
        const std::string_view typeAndData = png.substr(at + 4, 4 + length);
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()), typeAndData.size());
        EXPECT_EQ(bigEndian(png, at + 8 + length), crc) << "chunk " << typeAndData.substr(0, 4);
        found.push_back({std::string(typeAndData.substr(0, 4)), std::string(typeAndData.substr(4))});
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size()) << "bytes after the last chunk";
    return found;
}

/// The decoded rows of a filter-type-0 RGB image: width * 3 bytes per row.
class Pixels {
public:
    Pixels(std::string_view png, std::uint32_t width, std::uint32_t height)
        : width_(width) {
        std::string compressed;
        for (const auto& chunk : chunks(png)) {
            if (chunk.type == "IDAT") {
                compressed += chunk.data;
            }
        }
        const std::size_t stride = std::size_t{width} * 3 + 1;
        std::vector<Bytef> raw(stride * height);
        uLongf size = raw.size();
        EXPECT_EQ(uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(compressed.data()),
                             compressed.size()),
                  Z_OK);
        EXPECT_EQ(size, raw.size());
        for (std::uint32_t row = 0; row < height; ++row) {
            EXPECT_EQ(raw[row * stride], 0) << "filter type of row " << row;
            rgb_.insert(rgb_.end(), raw.begin() + row * stride + 1, raw.begin() + (row + 1) * stride);
        }
    }

    std::array<int, 3> at(int x, int y) const {
        const std::size_t index = (static_cast<std::size_t>(y) * width_ + x) * 3;
        return {rgb_[index], rgb_[index + 1], rgb_[index + 2]};
    }

private:
    std::uint32_t width_;
    std::vector<std::uint8_t> rgb_;
};

constexpr std::array<int, 3> blue{0, 122, 255};
constexpr std::array<int, 3> white{255, 255, 255};

} // namespace

TEST(RelayIconTest, IsA180PixelRGBPNGWithValidChunks) {
    const std::string& png = RelayIcon::png();
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    const auto found = chunks(png);
    ASSERT_GE(found.size(), 3u);
    EXPECT_EQ(found.front().type, "IHDR");
    EXPECT_EQ(found.back().type, "IEND");
    const std::string& header = found.front().data;
    ASSERT_EQ(header.size(), 13u);
    EXPECT_EQ(bigEndian(header, 0), 180u);
    EXPECT_EQ(bigEndian(header, 4), 180u);
    EXPECT_EQ(header[8], 8);  // bits per sample
    EXPECT_EQ(header[9], 2);  // RGB
    EXPECT_EQ(header[12], 0); // not interlaced
}

TEST(RelayIconTest, DrawsTheWhiteMarkOnBlue) {
    const Pixels pixels(RelayIcon::png(), 180, 180);
    // The mark's square is 104 px from (38, 36): one unit of its 256 is 0.40625 px.
    EXPECT_EQ(pixels.at(0, 0), blue);
    EXPECT_EQ(pixels.at(179, 179), blue);
    EXPECT_EQ(pixels.at(66, 88), white) << "centre-left of the mark: the left piece";
    EXPECT_EQ(pixels.at(87, 88), blue) << "the gap between the pieces (x 110 to 132)";
    EXPECT_EQ(pixels.at(98, 60), white) << "the right piece above the notch";
    EXPECT_EQ(pixels.at(119, 88), blue) << "inside the notch";
    EXPECT_EQ(pixels.at(98, 116), white) << "the right piece below the notch";
}

TEST(RelayIconTest, MarkIsLiftedTwoPixelsAboveCentre) {
    const Pixels pixels(RelayIcon::png(), 180, 180);
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < 180; ++y) {
        for (int x = 0; x < 180; ++x) {
            if (pixels.at(x, y) != blue) {
                top = top < 0 ? y : top;
                bottom = y;
            }
        }
    }
    // The disc spans units 24 to 232 of the square: rows 45.75 to 130.25 once lifted, 47.75 to 132.25
    // if it were centred.
    EXPECT_EQ(top, 45);
    EXPECT_EQ(bottom, 130);
}

TEST(RelayIconTest, EncoderRefusesPixelsThatDoNotFitTheSize) {
    const std::vector<std::uint8_t> rgb(2 * 2 * 3 - 1);
    EXPECT_THROW(PNGEncoder::encodeRGB(2, 2, rgb), std::invalid_argument);
}

TEST(RelayIconTest, EncoderKeepsEveryPixel) {
    const std::vector<std::uint8_t> rgb{1, 2, 3, 4, 5, 6, 7, 8, 9, 250, 251, 252};
    const Pixels pixels(PNGEncoder::encodeRGB(2, 2, rgb), 2, 2);
    EXPECT_EQ(pixels.at(0, 0), (std::array<int, 3>{1, 2, 3}));
    EXPECT_EQ(pixels.at(1, 0), (std::array<int, 3>{4, 5, 6}));
    EXPECT_EQ(pixels.at(0, 1), (std::array<int, 3>{7, 8, 9}));
    EXPECT_EQ(pixels.at(1, 1), (std::array<int, 3>{250, 251, 252}));
}
