#include "relay/png_encoder.h"

#include <stdexcept>
#include <vector>
#include <zlib.h>

namespace {

void appendBigEndian(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value >> 24);
    out += static_cast<char>((value >> 16) & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
    out += static_cast<char>(value & 0xff);
}

/// Length, type, data and the CRC-32 of type and data (PNG §5.3).
void appendChunk(std::string& out, std::string_view type, std::string_view data) {
    appendBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out += type;
    out += data;
    const auto* covered = reinterpret_cast<const Bytef*>(out.data() + typeAt);
    appendBigEndian(
        out, static_cast<std::uint32_t>(crc32(0, covered, static_cast<uInt>(type.size() + data.size()))));
}

} // namespace

namespace PNGEncoder {

std::string encodeRGB(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgb) {
    const std::size_t rowBytes = std::size_t{width} * 3;
    if (rgb.size() != rowBytes * height) {
        throw std::invalid_argument("pixel data does not match the image size");
    }
    // Filter type 0 (none) before every row: the flat colours of an icon compress well without help.
    std::vector<Bytef> raw;
    raw.reserve((rowBytes + 1) * height);
    for (std::uint32_t row = 0; row < height; ++row) {
        raw.push_back(0);
        const auto line = rgb.subspan(row * rowBytes, rowBytes);
        raw.insert(raw.end(), line.begin(), line.end());
    }
    uLongf compressedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<Bytef> compressed(compressedSize);
    if (compress2(compressed.data(), &compressedSize, raw.data(), static_cast<uLong>(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        throw std::runtime_error("zlib could not compress the image");
    }

    std::string header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header += '\x08'; // bits per sample
    header += '\x02'; // colour type: RGB
    header += '\x00'; // deflate
    header += '\x00'; // adaptive filtering
    header += '\x00'; // not interlaced

    std::string png = "\x89PNG\r\n\x1a\n";
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT",
                std::string_view(reinterpret_cast<const char*>(compressed.data()), compressedSize));
    appendChunk(png, "IEND", "");
    return png;
}

} // namespace PNGEncoder
