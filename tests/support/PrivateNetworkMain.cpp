#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "support/PrivateNetwork.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Without root the capture tests skip themselves; listing tests needs no namespace.
    if (::geteuid() == 0 && !testing::GTEST_FLAG(list_tests) && !qhs::enterPrivateNetwork()) {
        std::fprintf(stderr, "could not enter a private network namespace\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
