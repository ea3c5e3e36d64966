#include "relay/secret_hash.h"

#include "core/ascii.h"

#include <algorithm>
#include <array>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <stdexcept>

namespace SecretHash {

std::string sha256Hex(std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
        // Only an OpenSSL without SHA-256 gets here; nothing sensible can go on without it.
        throw std::runtime_error("SHA-256 is not available");
    }
    constexpr std::string_view hexDigits = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int index = 0; index < length; ++index) {
        hex += hexDigits[digest[index] >> 4];
        hex += hexDigits[digest[index] & 0x0f];
    }
    return hex;
}

bool equalInConstantTime(std::string_view a, std::string_view b) {
    // Lengths are public (every digest has 64 digits); only the contents must not leak.
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool isDigest(std::string_view text) {
    // Lower case only: digests are compared as bytes, and sha256Hex writes lower case.
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return Ascii::isHexDigit(c) && Ascii::lower(c) == c;
           });
}

} // namespace SecretHash
