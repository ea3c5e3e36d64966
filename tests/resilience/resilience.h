#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

// Sanitizer builds run several times slower (runs are cut down there), and AddressSanitizer's
// quarantine makes resident memory say nothing about the server.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool sanitized = true;
#else
inline constexpr bool sanitized = false;
#endif

/// A number from the environment, to replay a seed or scale a run down; `fallback` when unset.
inline std::uint64_t fromEnvironment(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

/// Bytes that differ along their length and from seed to seed, so a copy cut short or mixed up shows.
inline std::string pattern(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 7;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}
