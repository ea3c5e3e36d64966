#pragma once

#include <memory>
#include <stdexcept>
#include <string>

/// Frees an OpenSSL object with the function made for it.
template <auto free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* object) const noexcept {
        free(object);
    }
};

/// An OpenSSL object owned like any other, e.g. `OpenSslHandle<EVP_PKEY, EVP_PKEY_free>`.
template <typename T, auto free>
using OpenSslHandle = std::unique_ptr<T, OpenSslFree<free>>;

/// For calls OpenSSL should never refuse with inputs checked beforehand.
inline void requireOpenSsl(bool done, const char* what) {
    if (!done) {
        throw std::runtime_error(std::string("OpenSSL failed: ") + what);
    }
}
