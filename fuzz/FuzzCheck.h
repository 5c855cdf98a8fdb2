#pragma once

#include <cstdio>
#include <cstdlib>

// A broken expectation is a finding: print it and abort, so that libFuzzer keeps the input
// and the replay test fails.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);               \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
