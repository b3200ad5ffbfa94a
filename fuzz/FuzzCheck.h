// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A check that stays on in every build type: a failed one aborts, which is
// what libFuzzer records as a finding.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)
