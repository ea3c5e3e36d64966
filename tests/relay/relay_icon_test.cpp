// The launcher's Home Screen icon read back as a PNG reader would: each chunk's CRC, the header, then
// the pixels after inflating the image data.
#include "relay/relay_icon.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <numeric>
#include <vector>
#include <zlib.h>

TEST(RelayIconTest, IsA180PixelRGBPNGWithAWhiteMarkOnBlue) {
    const std::string png = RelayIcon::png();
    ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    const auto bigEndian = [&png](std::size_t at) {
        return std::accumulate(
            png.begin() + at, png.begin() + at + 4, std::uint32_t{0},
            [](std::uint32_t value, char byte) { return value << 8 | static_cast<unsigned char>(byte); });
    };
    std::map<std::string, std::string> chunks; // each type's data, joined
    std::size_t at = 8;
    for (; at + 12 <= png.size(); at += 12 + bigEndian(at)) {
        const std::string_view chunk = std::string_view(png).substr(at + 4, 4 + bigEndian(at));
        EXPECT_EQ(bigEndian(at + 4 + chunk.size()),
                  crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), chunk.size()))
            << chunk.substr(0, 4);
        chunks[std::string(chunk.substr(0, 4))] += chunk.substr(4);
    }
    EXPECT_EQ(at, png.size()) << "bytes after the last chunk";
    EXPECT_TRUE(chunks.contains("IEND"));
    // 180 by 180, 8-bit RGB, not interlaced.
    ASSERT_EQ(chunks["IHDR"], std::string("\0\0\0\xb4\0\0\0\xb4\x08\x02\0\0\0", 13));
    constexpr std::size_t stride = 1 + 180 * 3;
    std::vector<Bytef> rows(stride * 180);
    uLongf size = rows.size();
    const std::string& compressed = chunks["IDAT"];
    ASSERT_EQ(
        uncompress(rows.data(), &size, reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()),
        Z_OK);
    ASSERT_EQ(size, rows.size());
    // Each row starts with its filter type; the encoder writes every row unfiltered.
    for (std::size_t y = 0; y < 180; ++y) {
        EXPECT_EQ(rows[y * stride], 0) << "row " << y;
    }
    // The system blue in a corner; white inside the mark's left piece.
    const auto pixel = [&](std::size_t x, std::size_t y) {
        return std::vector<int>(rows.begin() + y * stride + 1 + x * 3, rows.begin() + y * stride + 4 + x * 3);
    };
    EXPECT_EQ(pixel(0, 0), (std::vector<int>{0, 122, 255}));
    EXPECT_EQ(pixel(62, 88), (std::vector<int>{255, 255, 255}));
}
