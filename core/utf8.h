#pragma once

#include <cstddef>
#include <string_view>

/// Strict UTF-8 checks, independent of ICU: no overlong forms, surrogates or values past U+10FFFF.
namespace UTF8 {

/// Length of the well-formed scalar starting at `index`, or 0 when the bytes there are not one.
std::size_t sequenceLength(std::string_view text, std::size_t index);

/// Whether every byte of `text` belongs to a well-formed scalar.
bool isValid(std::string_view text);

} // namespace UTF8
