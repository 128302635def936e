#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

// Skips the test unless it runs as root, which capturing needs.
#define REQUIRE_ROOT()                                                  \
    if (::geteuid() != 0) {                                             \
        GTEST_SKIP() << "capturing needs root (run the suite as root)"; \
    }
