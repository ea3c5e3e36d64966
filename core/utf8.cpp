#include "utf8.h"

namespace UTF8 {

std::size_t sequenceLength(std::string_view text, std::size_t index) {
    const auto lead = static_cast<unsigned char>(text[index]);
    std::size_t trailing = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xe0) == 0xc0) {
        trailing = 1, value = lead & 0x1f, minimum = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
        trailing = 2, value = lead & 0x0f, minimum = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
        trailing = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - index <= trailing) {
        return 0;
    }
    for (std::size_t offset = 1; offset <= trailing; ++offset) {
        const auto byte = static_cast<unsigned char>(text[index + offset]);
        if ((byte & 0xc0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte & 0x3f);
    }
    if (value < minimum || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) {
        return 0;
    }
    return trailing + 1;
}

bool isValid(std::string_view text) {
    for (std::size_t index = 0; index < text.size();) {
        const std::size_t length = sequenceLength(text, index);
        if (length == 0) {
            return false;
        }
        index += length;
    }
    return true;
}

} // namespace UTF8
