#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

/// Web Push message bodies (RFC 8291): the payload encrypted for one subscription with the "aes128gcm"
/// content coding (RFC 8188), in a single record. Backed by OpenSSL's libcrypto.
namespace WebPushCrypto {

/// A key that is not what Web Push uses (a P-256 point or scalar), a secret or salt of the wrong length,
/// a payload too long for one message, or an endpoint a VAPID token cannot name.
class WebPushError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The longest payload: push services take bodies of up to 4096 bytes, of which the header (86) and the
/// record's delimiter and tag (17) take the rest.
inline constexpr std::size_t maxPlaintext = 3993;

/// `plaintext` encrypted for the subscription whose public key is `receiverPublic` (65 bytes, an
/// uncompressed P-256 point) and whose authentication secret is `authSecret` (16 bytes), with a fresh
/// sender key pair and salt. Throws WebPushError.
std::string encrypt(std::string_view plaintext, std::string_view receiverPublic, std::string_view authSecret);

/// The same with the sender's private key `senderPrivate` (a 32-byte big-endian scalar) and `salt`
/// (16 bytes) given: one message always encrypts to the same body.
std::string encrypt(std::string_view plaintext, std::string_view receiverPublic, std::string_view authSecret,
                    std::string_view senderPrivate, std::string_view salt);

} // namespace WebPushCrypto
