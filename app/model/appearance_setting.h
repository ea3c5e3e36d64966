#pragma once

#include <string>
#include <string_view>

/// The look the user chose for the panel: the desktop's, or always light or dark.
enum class AppearanceSetting { system, light, dark };

namespace Appearance {
/// The stored form: "system", "light" or "dark".
std::string_view id(AppearanceSetting appearance);
/// "light" and "dark" as themselves; anything else is the desktop's look.
AppearanceSetting fromID(std::string_view text);
} // namespace Appearance
