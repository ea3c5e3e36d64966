// The launcher's Home Screen icon read back as a PNG reader would: each chunk's CRC, the header, then
// the pixels after inflating the image data.
#include "relay/relay_icon.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <numeric>
#include <vector>
#include <zlib.h>

TEST(RelayIconTest, IsA180PixelRGBPNGWithTheWhiteMarkOnBlue) {
    const std::string png = RelayIcon::png();
    ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    const auto bigEndian = [&png](std::size_t at) {
        return std::accumulate(
            png.begin() + at, png.begin() + at + 4, std::uint32_t{0},
            [](std::uint32_t value, char byte) { return value << 8 | static_cast<unsigned char>(byte); });
    };
    std::string header, compressed;
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::uint32_t length = bigEndian(at);
        const std::string_view chunk = std::string_view(png).substr(at + 4, 4 + length);
        EXPECT_EQ(bigEndian(at + 8 + length),
                  crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), chunk.size()))
            << chunk.substr(0, 4);
        if (chunk.starts_with("IHDR")) {
            header = chunk.substr(4);
        } else if (chunk.starts_with("IDAT")) {
            compressed += chunk.substr(4);
        }
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size()) << "bytes after the last chunk";
    // 180 by 180, 8-bit RGB, not interlaced.
    ASSERT_EQ(header, std::string("\0\0\0\xb4\0\0\0\xb4\x08\x02\0\0\0", 13));
    constexpr std::size_t stride = 1 + 180 * 3;
    std::vector<Bytef> rows(stride * 180);
    uLongf size = rows.size();
    ASSERT_EQ(
        uncompress(rows.data(), &size, reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()),
        Z_OK);
    ASSERT_EQ(size, rows.size());
    // Each row starts with its filter type; the encoder writes every row unfiltered.
    const auto pixel = [&](std::size_t x, std::size_t y) {
        const std::size_t i = y * stride + 1 + x * 3;
        EXPECT_EQ(rows[y * stride], 0) << "row " << y;
        return std::array<int, 3>{rows[i], rows[i + 1], rows[i + 2]};
    };
    constexpr std::array<int, 3> blue{0, 122, 255};
    EXPECT_EQ(pixel(0, 0), blue);
    EXPECT_EQ(pixel(179, 179), blue);
    // The mark's left piece and the gap beside it.
    EXPECT_EQ(pixel(66, 88), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(pixel(87, 88), blue);
}
