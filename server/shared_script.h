#pragma once

#include <string_view>

/// The script every scripted page starts with: glyphs, escaping, file kinds and sizes, the device's name
/// and the upload of one file with its progress row. Pages append their own script after it, inside the
/// same script element.
namespace SharedScript {

/// Plain JavaScript, constant; safe from any thread.
std::string_view text();

} // namespace SharedScript
