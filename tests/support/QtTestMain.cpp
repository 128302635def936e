#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <atomic>
#include <cstdio>
#include <filesystem>

#include "support/PrivateNetwork.h"

namespace {

std::atomic<int> warningsOutsideTests{0};

// What the offscreen platform itself says about facilities it lacks; a real display has them.
bool isOffscreenPlatformNote(const QString& message) {
    return message == QLatin1String("This plugin does not support propagateSizeHints()");
}

// A Qt warning is a defect: it fails the test that caused it, and one outside any test
// fails the run.
void failOnQtWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const QByteArray text = message.toLocal8Bit();
    std::fprintf(stderr, "%s\n", text.constData());
    if (type == QtDebugMsg || type == QtInfoMsg || isOffscreenPlatformNote(message)) {
        return;
    }
    if (testing::UnitTest::GetInstance()->current_test_info() != nullptr) {
        ADD_FAILURE() << "Qt warning: " << text.constData();
    } else {
        ++warningsOutsideTests;
    }
    if (type == QtFatalMsg) {
        std::abort();
    }
}

}  // namespace

// Widget tests drive real dialogs without a display; those that capture run as root in a
// private network namespace.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Without a session there is no runtime folder; Qt wants one of its own, mode 0700.
    char runtimeFolder[] = "/tmp/qhs-test-runtime-XXXXXX";
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && ::mkdtemp(runtimeFolder) != nullptr) {
        qputenv("XDG_RUNTIME_DIR", runtimeFolder);
    } else {
        runtimeFolder[0] = '\0';
    }
    qInstallMessageHandler(failOnQtWarning);
    testing::InitGoogleTest(&argc, argv);
#ifdef QHS_PRIVATE_NETWORK
    if (::geteuid() == 0 && !testing::GTEST_FLAG(list_tests) && !qhs::enterPrivateNetwork()) {
        std::fprintf(stderr, "could not enter a private network namespace\n");
        return 1;
    }
#endif
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (runtimeFolder[0] != '\0') {
        std::error_code ignored;
        std::filesystem::remove_all(runtimeFolder, ignored);
    }
    if (warningsOutsideTests.load() > 0) {
        std::fprintf(stderr, "%d Qt warnings outside any test\n", warningsOutsideTests.load());
        return 1;
    }
    return result;
}
