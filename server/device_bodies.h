#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

/// What a phone's request bodies mean: the name a pairing claim gives the phone and the text a paired
/// phone sends. Pure functions of the received bytes, safe from any thread.
namespace DeviceBodies {

/// Longest phone name kept, in Unicode scalars (the store keeps names to the same bound).
inline constexpr std::size_t maxNameScalars = 40;

/// Largest text a phone may send, in bytes.
inline constexpr std::size_t maxTextBytes = 65536;

/// The phone's name from a claim body: the "name" text of a JSON object, trimmed of white space, without
/// control and format characters, cut to maxNameScalars; "Phone" when the body is not such an object
/// or nothing is left of the name. Always valid, non-empty UTF-8.
std::string claimName(std::string_view body);

/// The text in a body, unchanged, when it is worth filing: 1 to maxTextBytes bytes of valid UTF-8 with
/// something besides white space; nothing otherwise.
std::optional<std::string> sentText(std::string_view body);

} // namespace DeviceBodies
