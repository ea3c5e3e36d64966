#include "app/system/terminal_qr.h"

#include <gtest/gtest.h>

#include <qrencode.h>
#include <sstream>

// Two modules per line, in half blocks, with a quiet zone of two: the code a phone's camera reads.
TEST(TerminalQRTest, DrawsTheCodeWithAQuietZoneTwoModulesPerLine) {
    const std::string link = "http://192.168.1.20:47470/p/abcdefghjkmn/";
    QRcode* code = QRcode_encodeString(link.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    ASSERT_NE(code, nullptr);
    const std::size_t size = static_cast<std::size_t>(code->width) + 4;
    QRcode_free(code);
    std::string light;
    for (std::size_t i = 0; i < size; ++i) {
        light += "\u2588";
    }
    std::istringstream lines(TerminalQR::render(link).value());
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) {
        // Display columns: count lead bytes only.
        EXPECT_EQ(static_cast<std::size_t>(std::count_if(line.begin(), line.end(),
                                                         [](unsigned char c) { return (c & 0xC0) != 0x80; })),
                  size);
        rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), (size + 1) / 2);
    EXPECT_EQ(rows[0], light) << "the quiet zone";
    // Line 1 holds module rows 0 and 1: the finder pattern's dark corner shows as a space after the quiet
    // zone.
    EXPECT_EQ(rows[1].substr(0, 7), "\u2588\u2588 ");
}
