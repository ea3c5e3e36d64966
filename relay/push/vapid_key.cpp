#include "relay/push/vapid_key.h"

#include "core/ascii.h"
#include "relay/push/base64_url.h"
#include "relay/push/openssl_handle.h"
#include "relay/push/web_push_crypto.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

using WebPushCrypto::WebPushError;

namespace {

using Bio = OpenSslHandle<BIO, BIO_free>;
using Number = OpenSslHandle<BIGNUM, BN_free>;
using DigestContext = OpenSslHandle<EVP_MD_CTX, EVP_MD_CTX_free>;
using Signature = OpenSslHandle<ECDSA_SIG, ECDSA_SIG_free>;

constexpr int coordinateSize = 32;

const unsigned char* bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

/// `number` as `coordinateSize` big-endian bytes.
std::string padded(const BIGNUM* number) {
    std::string out(coordinateSize, '\0');
    requireOpenSsl(BN_bn2binpad(number, reinterpret_cast<unsigned char*>(out.data()), coordinateSize) ==
                       coordinateSize,
                   "BN_bn2binpad");
    return out;
}

/// "scheme://host[:port]" of an http or https URL, in lower case, the port only when not the scheme's
/// default: the audience push services expect in the token.
std::string origin(std::string_view url) {
    const auto refuse = [] { throw WebPushError("the push endpoint is not an absolute http or https URL"); };
    const auto separator = url.find("://");
    if (separator == std::string_view::npos) {
        refuse();
    }
    const std::string scheme = Ascii::lowercased(url.substr(0, separator));
    if (scheme != "https" && scheme != "http") {
        refuse();
    }
    std::string_view authority = url.substr(separator + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1); // user information is no part of an origin
    }
    // An IPv6 literal has colons of its own.
    const bool bracketed = authority.starts_with('[');
    const auto hostEnd =
        bracketed ? authority.find(']') + 1 : std::min(authority.find(':'), authority.size());
    const std::string_view host = authority.substr(0, hostEnd);
    const std::string_view port = authority.substr(hostEnd);
    const auto allowed = [bracketed](char c) {
        return Ascii::isAlnum(c) ||
               std::string_view(bracketed ? "[]:." : "-._~%").find(c) != std::string_view::npos;
    };
    if (host.empty() || !std::all_of(host.begin(), host.end(), allowed) ||
        (!port.empty() && port[0] != ':')) {
        refuse();
    }
    std::string result = scheme + "://" + Ascii::lowercased(host);
    if (port.size() > 1) { // a lone ":" names the default port
        unsigned number = 0;
        const auto [end, error] = std::from_chars(port.data() + 1, port.data() + port.size(), number);
        if (error != std::errc() || end != port.data() + port.size() || number > 65535) {
            refuse();
        }
        if (number != (scheme == "https" ? 443U : 80U)) {
            result += ':' + std::to_string(number);
        }
    }
    return result;
}

} // namespace

void VapidKey::Free::operator()(EVP_PKEY* key) const noexcept {
    EVP_PKEY_free(key);
}

VapidKey VapidKey::generate() {
    std::unique_ptr<EVP_PKEY, Free> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    requireOpenSsl(key != nullptr, "EVP_PKEY_Q_keygen");
    return VapidKey(std::move(key));
}

VapidKey VapidKey::fromPem(std::string_view pem) {
    const Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    requireOpenSsl(bio != nullptr, "BIO_new_mem_buf");
    // Refuses an encrypted key rather than asking for its pass phrase on the terminal.
    const auto noPassword = [](char*, int, int, void*) { return 0; };
    std::unique_ptr<EVP_PKEY, Free> key(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr));
    std::array<char, 64> group{};
    if (key == nullptr || !EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group.data(), group.size(),
                                       nullptr) != 1 ||
        std::string_view(group.data()) != "prime256v1") {
        ERR_clear_error();
        throw WebPushError("not a P-256 private key in PEM");
    }
    return VapidKey(std::move(key));
}

std::string VapidKey::pem() const {
    const Bio bio(BIO_new(BIO_s_mem()));
    requireOpenSsl(
        bio && PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "PEM_write_bio_PrivateKey");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string VapidKey::publicKey() const {
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    const bool found = EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                       EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1;
    const Number ownedX(x);
    const Number ownedY(y);
    requireOpenSsl(found, "EVP_PKEY_get_bn_param");
    // Built from the coordinates: the key's own encoding may be compressed.
    return Base64Url::encoded('\x04' + padded(x) + padded(y));
}

std::string VapidKey::authorization(std::string_view endpoint, std::string_view contact,
                                    std::int64_t now) const {
    const auto part = [](const nlohmann::json& value) {
        return Base64Url::encoded(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    };
    const std::string signingInput =
        part({{"typ", "JWT"}, {"alg", "ES256"}}) + "." +
        part({{"aud", origin(endpoint)}, {"exp", now + tokenLifetime}, {"sub", std::string(contact)}});

    const DigestContext context(EVP_MD_CTX_new());
    std::size_t size = 0;
    requireOpenSsl(
        context && EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) == 1 &&
            EVP_DigestSign(context.get(), nullptr, &size, bytes(signingInput), signingInput.size()) == 1,
        "EVP_DigestSignInit");
    std::string der(size, '\0');
    requireOpenSsl(EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(der.data()), &size,
                                  bytes(signingInput), signingInput.size()) == 1,
                   "EVP_DigestSign");
    // JWS wants r and s side by side, not OpenSSL's DER sequence.
    const unsigned char* cursor = bytes(der);
    const Signature signature(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size)));
    requireOpenSsl(signature != nullptr, "d2i_ECDSA_SIG");
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    ECDSA_SIG_get0(signature.get(), &r, &s);
    return "vapid t=" + signingInput + "." + Base64Url::encoded(padded(r) + padded(s)) + ", k=" + publicKey();
}
