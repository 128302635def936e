#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <random>

#include "filemode/FileSnifferDialog.h"
#include "support/LocalWebServer.h"
#include "support/QtWait.h"
#include "support/ScriptedDialogService.h"
#include "support/TempDir.h"
#include "support/TestServices.h"

namespace qhs {
namespace {

constexpr int LongWait = 8000;

namespace fs = std::filesystem;

// The window as a user drives it: real nginx serves a file, curl downloads it, and the
// window, capturing on 127.0.0.1, writes the file it rebuilt into the chosen directory.
TEST(FileSnifferWindowEndToEnd, DownloadIsRebuiltIntoTheChosenDirectory) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "capturing needs root (run the suite as root)";
    }
    if (!LocalWebServer::available()) {
        GTEST_SKIP() << "nginx and curl are needed (scripts/install-deps.sh installs them)";
    }
    ScriptedDialogService user;
    TempDir work;
    fs::create_directory(work.path() / "www");
    fs::create_directory(work.path() / "out");
    std::string body(500 * 1024, '\0');
    std::mt19937 random(5);
    for (char& c : body) {
        c = static_cast<char>(random());
    }
    writeFileContents(work.path() / "www" / "picture.png", body);
    LocalWebServer server(work.path(), work.path() / "www");
    ASSERT_TRUE(server.running()) << server.errors();

    PublishedSettings published;
    published.change(
        [](SettingsRecord& settings) { setTextField(settings.interfaceAddress, "127.0.0.1"); });
    FileSnifferDialog window(published, (work.path() / "file.QHS").string(), servicesWith());
    ASSERT_TRUE(window.initialize());
    window.show();
    controlById<QLineEdit>(window, 1058)
        ->setText(QString::fromStdString((work.path() / "out").string()));
    controlById<QLineEdit>(window, 1063)->setText("300");
    window.startCapture();
    ASSERT_TRUE(user.shown.empty());
    auto* status = controlById<QLabel>(window, 1060);
    ASSERT_TRUE(waitUntil([&] { return status->text() == "Status: Running"; }, LongWait));

    ASSERT_EQ(runProgram({"curl", "-s", "-o", (work.path() / "copy").string(),
                          LocalWebServer::address("/picture.png")}),
              0);
    auto* written = controlById<QLabel>(window, 1062);
    ASSERT_TRUE(waitUntil([&] { return written->text() == "Files written: 1"; }, LongWait));
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(work.path() / "out")) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".png");
    EXPECT_EQ(files[0].filename().string().rfind("127.0.0.1 to 127.0.0.1 - [", 0), 0u);
    EXPECT_EQ(fileContents(files[0]), body);

    window.stopCapture();
    EXPECT_TRUE(waitUntil([&] { return status->text() == "Status: Stopped"; }, LongWait));
    window.closeWindow();
}

}  // namespace
}  // namespace qhs
