#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <random>
#include <set>

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

// Capturing needs root, and the downloads nginx and curl; each test serves its files from
// www/ of a folder of its own and has them rebuilt into out/.
class FileSnifferWindowEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "capturing needs root (run the suite as root)";
        }
        if (!LocalWebServer::available()) {
            GTEST_SKIP() << "nginx and curl are needed (scripts/install-deps.sh installs them)";
        }
        fs::create_directory(work.path() / "www");
        fs::create_directory(work.path() / "out");
    }

    // `size` random bytes served as www/`name`.
    std::string serveRandom(const std::string& name, std::size_t size, unsigned seed) {
        std::string body(size, '\0');
        std::mt19937 random(seed);
        for (char& c : body) {
            c = static_cast<char>(random());
        }
        writeFileContents(work.path() / "www" / name, body);
        return body;
    }

    // The window on 127.0.0.1, shown, writing into out/; null when it could not open.
    std::unique_ptr<FileSnifferDialog> openWindow() {
        published.change(
            [](SettingsRecord& settings) { setTextField(settings.interfaceAddress, "127.0.0.1"); });
        auto window = std::make_unique<FileSnifferDialog>(
            published, (work.path() / "file.QHS").string(), servicesWith());
        if (!window->initialize()) {
            return nullptr;
        }
        window->show();
        controlById<QLineEdit>(*window, 1058)
            ->setText(QString::fromStdString((work.path() / "out").string()));
        return window;
    }

    ScriptedDialogService user;
    TempDir work;
    PublishedSettings published;
};

// The window as a user drives it: real nginx serves a file, curl downloads it, and the
// window, capturing on 127.0.0.1, writes the file it rebuilt into the chosen directory.
TEST_F(FileSnifferWindowEndToEnd, DownloadIsRebuiltIntoTheChosenDirectory) {
    const std::string body = serveRandom("picture.png", 500 * 1024, 5);
    LocalWebServer server(work.path(), work.path() / "www");
    ASSERT_TRUE(server.running()) << server.errors();

    const std::unique_ptr<FileSnifferDialog> opened = openWindow();
    ASSERT_TRUE(opened);
    FileSnifferDialog& window = *opened;
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

// HTTPS live in the window: the key log curl writes while the capture runs is named in the
// window's field, and the downloads of TLS 1.3 over HTTP/2 and TLS 1.2 over HTTP/1.1 are
// rebuilt as they were served; a download whose key is not in the log is counted, not written.
TEST_F(FileSnifferWindowEndToEnd, HttpsDownloadsAreRebuiltWithTheKeyLogNamedInTheWindow) {
    const std::string body = serveRandom("picture.png", 2 * 1024 * 1024, 9);
    writeFileContents(work.path() / "www" / "small.bin", "small\n");
    LocalWebServer server(work.path(), work.path() / "www", false, true);
    ASSERT_TRUE(server.running()) << server.errors();
    const fs::path keys = work.path() / "keys.log";

    const std::unique_ptr<FileSnifferDialog> opened = openWindow();
    ASSERT_TRUE(opened);
    FileSnifferDialog& window = *opened;
    window.findChild<QLineEdit*>("tlsKeyLogFile")->setText(QString::fromStdString(keys.string()));
    window.startCapture();
    auto* status = controlById<QLabel>(window, 1060);
    ASSERT_TRUE(waitUntil([&] { return status->text() == "Status: Running"; }, LongWait));

    // The key log does not exist when capture starts: curl writes it as it connects.
    const auto fetch = [&](std::vector<std::string> options, const std::string& logged) {
        std::vector<std::string> command = {"env", "SSLKEYLOGFILE=" + logged, "curl", "-sfk"};
        command.insert(command.end(), options.begin(), options.end());
        return runProgram(command);
    };
    ASSERT_EQ(fetch({"--http2", "--tlsv1.3", "-o", (work.path() / "copy1").string(),
                     LocalWebServer::secureAddress("/picture.png")},
                    keys.string()),
              0);
    ASSERT_EQ(fetch({"--http1.1", "--tlsv1.2", "--tls-max", "1.2", "-o",
                     (work.path() / "copy2").string(), LocalWebServer::secureAddress("/small.bin")},
                    keys.string()),
              0);
    ASSERT_EQ(fetch({"--http1.1", "-o", (work.path() / "copy3").string(),
                     LocalWebServer::secureAddress("/small.bin")},
                    (work.path() / "elsewhere.log").string()),
              0);
    auto* written = controlById<QLabel>(window, 1062);
    auto* withoutKey = window.findChild<QLabel*>("encryptedWithoutKey");
    ASSERT_TRUE(waitUntil(
        [&] {
            return written->text() == "Files written: 2" &&
                   withoutKey->text() == "Encrypted, no key: 1";
        },
        LongWait))
        << written->text().toStdString() << ", " << withoutKey->text().toStdString();
    EXPECT_TRUE(withoutKey->isVisible());
    std::multiset<std::string> contents;
    for (const auto& entry : fs::directory_iterator(work.path() / "out")) {
        EXPECT_EQ(entry.path().filename().string().rfind("127.0.0.1 to 127.0.0.1 - [", 0), 0u);
        contents.insert(fileContents(entry.path()));
    }
    EXPECT_EQ(contents, (std::multiset<std::string>{body, "small\n"}));

    window.stopCapture();
    EXPECT_TRUE(waitUntil([&] { return status->text() == "Status: Stopped"; }, LongWait));
    window.closeWindow();
}

}  // namespace
}  // namespace qhs
