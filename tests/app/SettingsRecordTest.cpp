#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/PublishedSettings.h"
#include "app/SettingsRecord.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

std::vector<unsigned char> bytesOf(const SettingsRecord& record) {
    const auto* begin = reinterpret_cast<const unsigned char*>(&record);
    return std::vector<unsigned char>(begin, begin + sizeof record);
}

std::vector<unsigned char> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string textAt(const std::vector<unsigned char>& bytes, std::size_t offset) {
    return std::string(reinterpret_cast<const char*>(bytes.data() + offset));
}

std::uint32_t u32At(const std::vector<unsigned char>& bytes, std::size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

// Every default checked as raw bytes at its file offset; every other byte must be zero.
TEST(SettingsRecord, DefaultsSitAtTheirFileOffsetsAndEverythingElseIsZero) {
    const std::vector<unsigned char> bytes = bytesOf(defaultSettings());
    ASSERT_EQ(bytes.size(), 20668u);

    std::vector<bool> expected(bytes.size(), false);
    auto expectByte = [&](std::size_t offset, unsigned char value) {
        EXPECT_EQ(bytes[offset], value) << "offset " << offset;
        expected[offset] = true;
    };
    auto expectText = [&](std::size_t offset, const std::string& text) {
        EXPECT_EQ(textAt(bytes, offset), text) << "offset " << offset;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            expected[offset + i] = true;
        }
    };
    expectByte(0, 1);        // showModeChoice
    expectByte(4109, 1);     // soundOnNewPacket
    expectByte(4111, 1);     // detailShowDec
    expectByte(5138, 0x10);  // ackTimeoutMs = 10000, little-endian
    expectByte(5139, 0x27);
    expectByte(5140, 1);  // fileHttpOnly
    expectText(4113, "/");
    for (std::size_t offset : {5141, 5161, 5181, 5201, 5241, 5261, 5281, 5301}) {
        expectText(offset, "0.0.0.0");
    }
    for (std::size_t offset : {9426, 9427, 9428, 9429}) {
        expectByte(offset, 1);
    }
    expectByte(12068, 60);  // logIntervalSeconds
    expectText(18618, "%SIP to %DIP - [%DAT]");
    expectText(19642, "%Y.%MY.%D - %H24:%MN:%S.%MS");
    EXPECT_EQ(u32At(bytes, 4), 0u);  // snifferMode: Packet Sniffer Mode

    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!expected[i]) {
            ASSERT_EQ(bytes[i], 0) << "offset " << i << " should be zero";
        }
    }
}

TEST(SettingsRecord, SettingsFileNameReplacesTheLastThreeCharacters) {
    EXPECT_EQ(settingsFilePath("/opt/q/QuillharbourSnifferV1.5.exe"),
              "/opt/q/QuillharbourSnifferV1.5.QHS");
    EXPECT_EQ(settingsFilePath("/home/u/sniff.bin"), "/home/u/sniff.QHS");
    EXPECT_EQ(settingsFilePath("/home/u/a.b"), "/home/u/QHS");
    // The rule counts characters only: no extension still loses three of them.
    EXPECT_EQ(settingsFilePath("/usr/bin/sniffer"), "/usr/bin/snifQHS");
    EXPECT_EQ(settingsFilePath("ab"), "QHS");
}

TEST(SettingsRecord, TextFieldsAreReadWithinTheirCapacityWithoutATerminator) {
    SettingsRecord record = defaultSettings();
    std::memset(record.fileSourceIpMust, 'x', sizeof record.fileSourceIpMust);
    EXPECT_EQ(textField(record.fileSourceIpMust), std::string(20, 'x'));

    setTextField(record.fileSourceIpMust, std::string(50, 'y'));
    EXPECT_EQ(textField(record.fileSourceIpMust), std::string(19, 'y'));
    EXPECT_EQ(record.fileSourceIpMust[19], '\0');
    // The field after it is untouched by an over-long copy.
    EXPECT_EQ(textField(record.fileSourceIpMustNot), "0.0.0.0");
}

class SettingsFile : public testing::Test {
  protected:
    TempDir dir;
    std::string path = (dir.path() / "sniff.QHS").string();
};

TEST_F(SettingsFile, MissingFileGivesDefaults) {
    SettingsRecord record;
    std::memset(&record, 0xAB, sizeof record);
    loadSettings(record, path);
    EXPECT_EQ(bytesOf(record), bytesOf(defaultSettings()));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SettingsFile, OnlyANewRecordTakesTheDownloadFolderAStoredRootStays) {
    SettingsRecord record;
    loadSettings(record, path, "/home/someone/Downloads/");
    SettingsRecord expected = defaultSettings();
    setTextField(expected.fileOutputDirectory, "/home/someone/Downloads/");
    EXPECT_EQ(bytesOf(record), bytesOf(expected));

    ASSERT_TRUE(saveSettings(defaultSettings(), path));
    loadSettings(record, path, "/home/someone/Downloads/");
    EXPECT_EQ(textField(record.fileOutputDirectory), "/");
}

TEST_F(SettingsFile, SavedRecordLoadsBackByteForByte) {
    SettingsRecord saved = defaultSettings();
    saved.snifferMode = 1;
    saved.ackTimeoutMs = static_cast<std::uint16_t>(70000);  // kept modulo 65536
    saved.filterSourceIps[0] = 0x0100007F;
    setTextField(saved.interfaceAddress, "127.0.0.1");
    ASSERT_TRUE(saveSettings(saved, path));
    EXPECT_EQ(std::filesystem::file_size(path), 20668u);

    SettingsRecord loaded;
    loadSettings(loaded, path);
    EXPECT_EQ(bytesOf(loaded), bytesOf(saved));
    EXPECT_EQ(loaded.ackTimeoutMs, 4464);
}

TEST_F(SettingsFile, ShortFilesGiveTheDefaultsForTheWholeRecord) {
    for (std::size_t size : {0u, 100u, 20667u}) {
        writeFile(path, std::vector<unsigned char>(size, 0x55));
        SettingsRecord record;
        loadSettings(record, path);
        EXPECT_EQ(bytesOf(record), bytesOf(defaultSettings())) << size << " bytes";
    }
}

TEST_F(SettingsFile, LongFileGivesItsFirstRecordOfBytes) {
    std::vector<unsigned char> bytes(30000);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    writeFile(path, bytes);
    SettingsRecord record;
    loadSettings(record, path);
    EXPECT_EQ(bytesOf(record), std::vector<unsigned char>(bytes.begin(), bytes.begin() + 20668));
}

TEST_F(SettingsFile, RecordWithoutAnyNulLoadsAndEveryTextFieldStaysInBounds) {
    writeFile(path, std::vector<unsigned char>(20668, 'A'));
    SettingsRecord record;
    loadSettings(record, path);
    EXPECT_EQ(textField(record.interfaceAddress).size(), 1024u);
    EXPECT_EQ(textField(record.fileDestIpMustNot).size(), 20u);
    EXPECT_EQ(textField(record.dateTimeTemplate).size(), 1024u);
    EXPECT_EQ(record.snifferMode, 0x41414141u);
}

TEST_F(SettingsFile, UnwritableLocationIsIgnoredSilently) {
    const std::string inMissingFolder = (dir.path() / "missing" / "x.QHS").string();
    EXPECT_FALSE(saveSettings(defaultSettings(), inMissingFolder));
    EXPECT_FALSE(std::filesystem::exists(inMissingFolder));
    // A directory where the file should be: loading falls back to the defaults.
    SettingsRecord record;
    loadSettings(record, dir.path().string());
    EXPECT_EQ(bytesOf(record), bytesOf(defaultSettings()));
}

TEST_F(SettingsFile, SavingOverALongerFileTruncatesIt) {
    writeFile(path, std::vector<unsigned char>(30000, 1));
    ASSERT_TRUE(saveSettings(defaultSettings(), path));
    EXPECT_EQ(readFile(path), bytesOf(defaultSettings()));
}

// Settings steer where the program writes: a file that another user could have written is
// never taken, and saving never writes through a link or into another user's file.
TEST_F(SettingsFile, OnlyAFileNoOtherUserCanWriteIsReadOrWritten) {
    namespace fs = std::filesystem;
    SettingsRecord aimed = defaultSettings();
    aimed.autoLog = 1;
    setTextField(aimed.logFilePath, "/home/victim/.ssh/authorized_keys");
    ASSERT_TRUE(saveSettings(aimed, path));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));
    for (const unsigned mode : {0620u, 0602u, 0666u}) {
        fs::permissions(path, fs::perms(mode));
        SettingsRecord record;
        EXPECT_EQ(loadSettings(record, path), SettingsRead::Untrusted) << std::oct << mode;
        EXPECT_EQ(bytesOf(record), bytesOf(defaultSettings())) << std::oct << mode;
    }
    // The user's own save takes the others' write permission away again.
    ASSERT_TRUE(saveSettings(aimed, path));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0644));
    SettingsRecord record;
    EXPECT_EQ(loadSettings(record, path), SettingsRead::Read);
    EXPECT_EQ(bytesOf(record), bytesOf(aimed));

    const fs::path target = dir.path() / "target";
    writeFile(target, {'k', 'e', 'y'});
    const fs::path link = dir.path() / "link.QHS";
    fs::create_symlink(target, link);
    EXPECT_FALSE(saveSettings(aimed, link.string()));
    EXPECT_EQ(readFile(target), (std::vector<unsigned char>{'k', 'e', 'y'}));

    if (::geteuid() == 0) {
        // Root takes no file of another user, and writes none.
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        fs::permissions(path, fs::perms(0600));
        EXPECT_EQ(loadSettings(record, path), SettingsRead::Untrusted);
        EXPECT_FALSE(saveSettings(defaultSettings(), path));
        EXPECT_EQ(readFile(path), bytesOf(aimed));
    }
}

TEST_F(SettingsFile, TheSystemWideFileSeedsOnlyAUserWithoutAFileOfTheirOwn) {
    const std::string seed = (dir.path() / "beside.QHS").string();
    SettingsRecord system = defaultSettings();
    system.showModeChoice = 0;
    ASSERT_TRUE(saveSettings(system, seed));
    SettingsRecord record;
    EXPECT_EQ(loadSettings(record, path, "/home/u/Downloads/", seed), SettingsRead::Missing);
    EXPECT_EQ(bytesOf(record), bytesOf(system));

    SettingsRecord own = defaultSettings();
    own.snifferMode = 1;
    ASSERT_TRUE(saveSettings(own, path));
    EXPECT_EQ(loadSettings(record, path, "/", seed), SettingsRead::Read);
    EXPECT_EQ(bytesOf(record), bytesOf(own));
}

TEST(PublishedSettings, WorkerSeesEveryPublishedRecordWhole) {
    SettingsRecord first = defaultSettings();
    SettingsRecord second = defaultSettings();
    setTextField(first.dateTimeTemplate, std::string(200, 'a'));
    setTextField(second.dateTimeTemplate, std::string(300, 'b'));
    second.logIntervalSeconds = 7;
    PublishedSettings published(first);
    std::atomic<bool> done{false};
    std::thread window([&] {
        SettingsRecord edited = first;
        for (int change = 0; change < 2000; ++change) {
            // The window thread edits its own record in place, then publishes it.
            edited = change % 2 == 0 ? first : second;
            published.replace(edited);
        }
        done = true;
    });
    SettingsView view(published);
    int mixed = 0;
    while (!done.load()) {
        const SettingsRecord& seen = view.get();
        const std::string_view text = textField(seen.dateTimeTemplate);
        const bool isFirst = text == std::string(200, 'a') && seen.logIntervalSeconds != 7;
        const bool isSecond = text == std::string(300, 'b') && seen.logIntervalSeconds == 7;
        mixed += isFirst || isSecond ? 0 : 1;
    }
    window.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(textField(view.get().dateTimeTemplate), std::string(300, 'b')) << "the latest";
}

}  // namespace
}  // namespace qhs
