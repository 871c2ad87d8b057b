#pragma once

#include <cstdio>
#include <cstdlib>

// A property that does not hold is a finding: libFuzzer keeps the input that
// aborted.
inline void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "property does not hold: %s\n", what);
        std::abort();
    }
}
