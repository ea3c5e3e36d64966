#include "relay/push/web_push_crypto.h"

#include "relay/push/openssl_handle.h"

#include <array>
#include <cstdint>
#include <memory>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <utility>
#include <vector>

namespace WebPushCrypto {

namespace {

using Pkey = OpenSslHandle<EVP_PKEY, EVP_PKEY_free>;
using PkeyContext = OpenSslHandle<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using Kdf = OpenSslHandle<EVP_KDF, EVP_KDF_free>;
using KdfContext = OpenSslHandle<EVP_KDF_CTX, EVP_KDF_CTX_free>;
using CipherContext = OpenSslHandle<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using Group = OpenSslHandle<EC_GROUP, EC_GROUP_free>;
using Point = OpenSslHandle<EC_POINT, EC_POINT_free>;
using Number = OpenSslHandle<BIGNUM, BN_clear_free>;

constexpr std::size_t pointSize = 65; // 0x04 || x || y
constexpr std::size_t scalarSize = 32;
constexpr std::size_t authSecretSize = 16;
constexpr std::size_t saltSize = 16;
constexpr std::size_t keySize = 16;
constexpr std::size_t nonceSize = 12;
constexpr std::size_t tagSize = 16;
constexpr std::uint32_t recordSize = 4096;
constexpr char curveName[] = "prime256v1";

const unsigned char* bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

unsigned char* bytes(std::string& text) {
    return reinterpret_cast<unsigned char*>(text.data());
}

/// The subscription's public key, checked to be a point on P-256.
Pkey receiverKey(std::string_view point) {
    if (point.size() != pointSize || point[0] != 0x04) {
        throw WebPushError("the subscription's key is not an uncompressed P-256 point");
    }
    const PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    const std::array params{
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>(curveName), 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, const_cast<char*>(point.data()),
                                          point.size()),
        OSSL_PARAM_construct_end()};
    EVP_PKEY* key = nullptr;
    requireOpenSsl(context && EVP_PKEY_fromdata_init(context.get()) == 1, "EVP_PKEY_fromdata_init");
    if (EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM*>(params.data())) !=
        1) {
        ERR_clear_error();
        throw WebPushError("the subscription's key is not a point on P-256");
    }
    return Pkey(key);
}

/// The sender's key pair from its private scalar, and its public point.
std::pair<Pkey, std::string> senderKey(std::string_view scalar) {
    if (scalar.size() != scalarSize) {
        throw WebPushError("the sender's private key is not 32 bytes");
    }
    const Group group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
    const Number secret(BN_bin2bn(bytes(scalar), static_cast<int>(scalar.size()), nullptr));
    requireOpenSsl(group && secret, "EC_GROUP_new_by_curve_name");
    if (BN_is_zero(secret.get()) || BN_cmp(secret.get(), EC_GROUP_get0_order(group.get())) >= 0) {
        throw WebPushError("the sender's private key is not a P-256 scalar");
    }
    const Point point(EC_POINT_new(group.get()));
    std::string publicPoint(pointSize, '\0');
    requireOpenSsl(point &&
                       EC_POINT_mul(group.get(), point.get(), secret.get(), nullptr, nullptr, nullptr) == 1 &&
                       EC_POINT_point2oct(group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED,
                                          bytes(publicPoint), publicPoint.size(), nullptr) == pointSize,
                   "EC_POINT_mul");

    // OpenSSL takes the scalar in native byte order.
    std::array<unsigned char, scalarSize> native{};
    requireOpenSsl(BN_bn2nativepad(secret.get(), native.data(), native.size()) == scalarSize,
                   "BN_bn2nativepad");
    const std::array params{
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>(curveName), 0),
        OSSL_PARAM_construct_BN(OSSL_PKEY_PARAM_PRIV_KEY, native.data(), native.size()),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, publicPoint.data(), publicPoint.size()),
        OSSL_PARAM_construct_end()};
    const PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    const bool made =
        context && EVP_PKEY_fromdata_init(context.get()) == 1 &&
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_KEYPAIR, const_cast<OSSL_PARAM*>(params.data())) == 1;
    OPENSSL_cleanse(native.data(), native.size());
    requireOpenSsl(made, "EVP_PKEY_fromdata");
    return {Pkey(key), std::move(publicPoint)};
}

std::string sharedSecret(EVP_PKEY* sender, EVP_PKEY* receiver) {
    const PkeyContext context(EVP_PKEY_CTX_new(sender, nullptr));
    requireOpenSsl(context && EVP_PKEY_derive_init(context.get()) == 1, "EVP_PKEY_derive_init");
    if (EVP_PKEY_derive_set_peer_ex(context.get(), receiver, 1) != 1) {
        ERR_clear_error();
        throw WebPushError("the subscription's key cannot agree a secret");
    }
    std::string secret(32, '\0');
    std::size_t size = secret.size();
    requireOpenSsl(EVP_PKEY_derive(context.get(), bytes(secret), &size) == 1 && size == secret.size(),
                   "EVP_PKEY_derive");
    return secret;
}

/// HKDF-SHA-256 (RFC 5869) in `mode`: extract and expand, extract only (`size` must be 32) or expand only
/// (`key` is then the pseudorandom key).
std::string hkdf(int mode, std::string_view key, std::string_view salt, std::string_view info,
                 std::size_t size) {
    const Kdf kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    requireOpenSsl(kdf != nullptr, "EVP_KDF_fetch HKDF");
    const KdfContext context(EVP_KDF_CTX_new(kdf.get()));
    requireOpenSsl(context != nullptr, "EVP_KDF_CTX_new");
    std::vector<OSSL_PARAM> params{
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<char*>(key.data()), key.size())};
    // Expanding takes no salt and extracting no info; OpenSSL refuses an empty salt.
    if (!salt.empty()) {
        params.push_back(OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT,
                                                           const_cast<char*>(salt.data()), salt.size()));
    }
    if (!info.empty()) {
        params.push_back(OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO,
                                                           const_cast<char*>(info.data()), info.size()));
    }
    params.push_back(OSSL_PARAM_construct_end());
    std::string output(size, '\0');
    requireOpenSsl(EVP_KDF_derive(context.get(), bytes(output), output.size(), params.data()) == 1,
                   "EVP_KDF_derive");
    return output;
}

std::string encryptWith(std::string_view plaintext, std::string_view receiverPublic,
                        std::string_view authSecret, EVP_PKEY* sender, std::string_view senderPublic,
                        std::string_view salt) {
    if (plaintext.size() > maxPlaintext) {
        throw WebPushError("the payload is longer than one push message holds");
    }
    if (authSecret.size() != authSecretSize) {
        throw WebPushError("the subscription's authentication secret is not 16 bytes");
    }
    if (salt.size() != saltSize) {
        throw WebPushError("the salt is not 16 bytes");
    }
    const Pkey receiver = receiverKey(receiverPublic);

    using namespace std::string_literals;
    const std::string keyInfo = "WebPush: info\0"s + std::string(receiverPublic) + std::string(senderPublic);
    const std::string ikm = hkdf(EVP_KDF_HKDF_MODE_EXTRACT_AND_EXPAND, sharedSecret(sender, receiver.get()),
                                 authSecret, keyInfo, 32);
    const std::string prk = hkdf(EVP_KDF_HKDF_MODE_EXTRACT_ONLY, ikm, salt, {}, 32);
    const std::string cek =
        hkdf(EVP_KDF_HKDF_MODE_EXPAND_ONLY, prk, {}, "Content-Encoding: aes128gcm\0"s, keySize);
    const std::string nonce =
        hkdf(EVP_KDF_HKDF_MODE_EXPAND_ONLY, prk, {}, "Content-Encoding: nonce\0"s, nonceSize);

    std::string body(salt);
    for (const int shift : {24, 16, 8, 0}) {
        body += static_cast<char>((recordSize >> shift) & 0xff);
    }
    body += static_cast<char>(senderPublic.size());
    body += senderPublic;

    // The only record is also the last: its padding delimiter is 0x02, with no padding after it.
    const std::string record = std::string(plaintext) + '\x02';
    const std::size_t header = body.size();
    body.resize(header + record.size() + tagSize);
    const CipherContext cipher(EVP_CIPHER_CTX_new());
    int written = 0;
    int finished = 0;
    requireOpenSsl(
        cipher &&
            EVP_EncryptInit_ex2(cipher.get(), EVP_aes_128_gcm(), bytes(cek), bytes(nonce), nullptr) == 1 &&
            EVP_EncryptUpdate(cipher.get(), bytes(body) + header, &written, bytes(record),
                              static_cast<int>(record.size())) == 1 &&
            EVP_EncryptFinal_ex(cipher.get(), bytes(body) + header + written, &finished) == 1 &&
            static_cast<std::size_t>(written + finished) == record.size() &&
            EVP_CIPHER_CTX_ctrl(cipher.get(), EVP_CTRL_AEAD_GET_TAG, tagSize,
                                bytes(body) + header + record.size()) == 1,
        "AES-128-GCM");
    return body;
}

} // namespace

std::string encrypt(std::string_view plaintext, std::string_view receiverPublic,
                    std::string_view authSecret) {
    const Pkey sender(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    std::string senderPublic(pointSize, '\0');
    std::size_t size = 0;
    requireOpenSsl(sender &&
                       EVP_PKEY_get_octet_string_param(sender.get(), OSSL_PKEY_PARAM_PUB_KEY,
                                                       bytes(senderPublic), senderPublic.size(),
                                                       &size) == 1 &&
                       size == pointSize,
                   "EVP_PKEY_Q_keygen");
    std::string salt(saltSize, '\0');
    requireOpenSsl(RAND_bytes(bytes(salt), static_cast<int>(salt.size())) == 1, "RAND_bytes");
    return encryptWith(plaintext, receiverPublic, authSecret, sender.get(), senderPublic, salt);
}

std::string encrypt(std::string_view plaintext, std::string_view receiverPublic, std::string_view authSecret,
                    std::string_view senderPrivate, std::string_view salt) {
    const auto [sender, senderPublic] = senderKey(senderPrivate);
    return encryptWith(plaintext, receiverPublic, authSecret, sender.get(), senderPublic, salt);
}

} // namespace WebPushCrypto
