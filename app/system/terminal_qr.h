#pragma once

#include <optional>
#include <string>
#include <string_view>

/// QR codes drawn with text, for a terminal.
namespace TerminalQR {

/// `text` as a QR code (error correction level M) in Unicode half blocks, two modules a line, with a
/// quiet zone of two modules. Like `qrencode -t UTF8`, light modules are drawn as blocks, which suits
/// the usual light-on-dark terminal. Nothing when the text cannot be encoded.
std::optional<std::string> render(std::string_view text);

} // namespace TerminalQR
