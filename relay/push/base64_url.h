#pragma once

#include <optional>
#include <string>
#include <string_view>

/// Base64 with the URL and file name safe alphabet ("-" and "_" for "+" and "/"), as Web Push writes
/// keys, salts and JWT parts.
namespace Base64Url {

/// `bytes` encoded without "=" padding.
std::string encoded(std::string_view bytes);

/// The bytes `text` encodes, with or without "=" padding; nothing when it holds any other character or
/// its length cannot be that of an encoding.
std::optional<std::string> decoded(std::string_view text);

} // namespace Base64Url
