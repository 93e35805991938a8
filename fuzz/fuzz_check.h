// The fuzz targets' one check: a failed condition is a finding, and aborts.
#pragma once

#include <cstdio>
#include <cstdlib>

#define KS_FUZZ_CHECK(condition)                                                               \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
