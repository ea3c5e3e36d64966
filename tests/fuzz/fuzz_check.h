#pragma once

#include <cstdio>
#include <cstdlib>

/// Stops the run like a crash when a property breaks, so libFuzzer keeps the input as a reproducer.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}
