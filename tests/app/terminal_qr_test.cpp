#include "app/system/terminal_qr.h"

#include <gtest/gtest.h>

#include <qrencode.h>
#include <sstream>

namespace {

/// Display columns of one line: every half block and space is one column.
std::size_t columns(const std::string& line) {
    std::size_t count = 0;
    for (unsigned char c : line) {
        count += (c & 0xC0) != 0x80; // count lead bytes only
    }
    return count;
}

} // namespace

TEST(TerminalQRTest, DrawsTheCodeWithAQuietZoneTwoModulesPerLine) {
    const std::string link = "http://192.168.1.20:47470/p/abcdefghjkmn/";
    const auto drawing = TerminalQR::render(link);
    ASSERT_TRUE(drawing);
    QRcode* code = QRcode_encodeString(link.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    ASSERT_NE(code, nullptr);
    const std::size_t size = static_cast<std::size_t>(code->width) + 4;
    // The top-left module belongs to a finder pattern, so it is dark.
    const bool firstModuleDark = code->data[0] & 1;
    QRcode_free(code);

    std::istringstream lines(*drawing);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) {
        rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), (size + 1) / 2);
    for (const auto& row : rows) {
        EXPECT_EQ(columns(row), size);
    }
    // The first line is the quiet zone: light everywhere.
    EXPECT_EQ(rows[0], [&] {
        std::string full;
        for (std::size_t i = 0; i < size; ++i) {
            full += "\u2588";
        }
        return full;
    }());
    EXPECT_TRUE(firstModuleDark);
    // Line 1 holds module rows 0 and 1 of the code: the finder's dark corner shows as a space there.
    EXPECT_EQ(rows[1].substr(0, 6), "\u2588\u2588"); // quiet zone columns
    EXPECT_EQ(rows[1][6], ' ');
}
