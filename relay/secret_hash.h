#pragma once

#include <string>
#include <string_view>

/// SHA-256 digests of secrets and device tokens, and comparing them without leaking where they differ.
/// Backed by OpenSSL's libcrypto.
namespace SecretHash {

/// The SHA-256 of `text` as 64 lower-case hex digits.
std::string sha256Hex(std::string_view text);

/// Whether `a` and `b` are equal, in time that depends only on their lengths.
bool equalInConstantTime(std::string_view a, std::string_view b);

/// Whether `text` is 64 hex digits in lower case: the form `sha256Hex` writes.
bool isDigest(std::string_view text);

} // namespace SecretHash
