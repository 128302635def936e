#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>

#include "support/PrivateNetwork.h"

// Widget tests drive real dialogs without a display; those that capture run as root in a
// private network namespace.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing::InitGoogleTest(&argc, argv);
#ifdef QHS_PRIVATE_NETWORK
    if (::geteuid() == 0 && !testing::GTEST_FLAG(list_tests) && !qhs::enterPrivateNetwork()) {
        std::fprintf(stderr, "could not enter a private network namespace\n");
        return 1;
    }
#endif
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
