#include "app/system/terminal_qr.h"

#include <memory>
#include <qrencode.h>
#include <string>

namespace TerminalQR {

std::optional<std::string> render(std::string_view text) {
    const std::string input(text);
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(input.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code) {
        return std::nullopt;
    }
    constexpr int quiet = 2;
    const int width = code->width;
    const int size = width + 2 * quiet;
    const auto dark = [&](int x, int y) {
        x -= quiet;
        y -= quiet;
        return x >= 0 && y >= 0 && x < width && y < width && (code->data[y * width + x] & 1) != 0;
    };
    std::string out;
    for (int y = 0; y < size; y += 2) {
        for (int x = 0; x < size; ++x) {
            const bool top = !dark(x, y);
            const bool bottom = y + 1 < size ? !dark(x, y + 1) : false;
            out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
        }
        out += '\n';
    }
    return out;
}

} // namespace TerminalQR
