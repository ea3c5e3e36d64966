#pragma once

#include <cstdint>
#include <span>
#include <string>

/// Writes PNG files: 8-bit RGB, no interlacing, zlib (deflate) compressed.
namespace PNGEncoder {

/// A PNG of `width` × `height` pixels from `rgb`, three bytes per pixel, rows top to bottom. Throws
/// std::invalid_argument when `rgb` does not hold exactly that many pixels.
std::string encodeRGB(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgb);

} // namespace PNGEncoder
