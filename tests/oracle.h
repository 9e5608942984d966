// The independent judges that some tests consult (python3 with unicodedata,
// iconv with VISCII) and what a test does when one is missing.  Outside CI it
// is skipped, with the reason.  Under CI (CI set in the environment), whose
// script installs every oracle, a missing one fails the test instead: a run
// that checked nothing must not pass.
#pragma once

#include <gtest/gtest.h>

#include <string>

bool running_under_ci();

// python3 runs and imports unicodedata.
bool have_python_unicodedata();

// The C library's iconv converts VISCII (the iconv command uses the same).
bool have_iconv_viscii();

// Ends the test when `available` is false: a skip, or under CI a failure.
#define REQUIRE_ORACLE(available, reason)                                                        \
    do {                                                                                         \
        if (!(available)) {                                                                      \
            if (running_under_ci()) FAIL() << (reason) << " (CI provides it, so this fails)"; \
            GTEST_SKIP() << (reason);                                                            \
        }                                                                                        \
    } while (0)
