#pragma once

#include <string>

/// The Home Screen icon of the launcher: Tesk's mark in white on the system blue.
namespace RelayIcon {

/// Width and height in pixels: what iOS asks of an apple-touch-icon.
inline constexpr int size = 180;

/// Whether the point (`u`, `v`) of the mark's 256-unit square lies on the mark.
bool markContains(double u, double v);

/// The icon as PNG bytes, drawn once on first use.
const std::string& png();

} // namespace RelayIcon
