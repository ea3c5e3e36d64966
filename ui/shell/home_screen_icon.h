#pragma once

#include <optional>
#include <string>

/// The icon a phone puts on its Home Screen for Tesk: the mark in white on blue, 180 × 180.
namespace HomeScreenIcon {

/// The icon as PNG bytes; nothing when drawing or encoding fails.
std::optional<std::string> png();

} // namespace HomeScreenIcon
