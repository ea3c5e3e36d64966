#pragma once

#include "relay/push/web_push_crypto.h"

#include <cstdint>
#include <memory>
#include <openssl/types.h>
#include <string>
#include <string_view>
#include <utility>

/// The relay's VAPID key pair (RFC 8292), a P-256 key: push services check each request's token against
/// its public key, which browsers were given as the subscription's application server key. Throws
/// WebPushCrypto::WebPushError for what it cannot use.
class VapidKey {
public:
    /// How long a token from `authorization` stays valid, in seconds.
    static constexpr std::int64_t tokenLifetime = 12 * 60 * 60;

    /// A fresh key pair.
    static VapidKey generate();
    /// The key `pem` holds; throws WebPushError unless it is an unencrypted P-256 private key.
    static VapidKey fromPem(std::string_view pem);

    /// The private key as PKCS#8 PEM, which `fromPem` reads back.
    std::string pem() const;
    /// The public key as an uncompressed point (65 bytes), base64url without padding.
    std::string publicKey() const;
    /// The Authorization header's value for a request to `endpoint`: "vapid t=<JWT>, k=<publicKey()>", the
    /// token naming the endpoint's origin, expiring `tokenLifetime` after `now` (seconds since the epoch)
    /// and giving `contact` (a mailto: or https: URL) as its subject. Throws WebPushError when `endpoint`
    /// is not an absolute https or http URL.
    std::string authorization(std::string_view endpoint, std::string_view contact, std::int64_t now) const;

private:
    struct Free {
        void operator()(EVP_PKEY* key) const noexcept;
    };
    explicit VapidKey(std::unique_ptr<EVP_PKEY, Free> key)
        : key_(std::move(key)) {}

    std::unique_ptr<EVP_PKEY, Free> key_;
};
