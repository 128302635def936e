#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/Templates.h"
#include "filemode/StreamFile.h"
#include "filemode/TcpSegments.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

namespace fs = std::filesystem;
using test::bytesOf;

constexpr const char* DefaultName = "10.0.0.5 to 10.0.0.9 - [2003.07.14 - 16.05.09.250]";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class StreamFileOutput : public testing::Test {
  protected:
    StreamFileOutput() {
        fs::create_directory(directory());
        settings.directory = directory().string();
        settings.fileNameTemplate = "%SIP to %DIP - [%DAT]";
        settings.dateTimeTemplate = "%Y.%MY.%D - %H24:%MN:%S.%MS";
        settings.httpOnly = true;
    }

    fs::path directory() const { return root.path() / "out"; }

    StreamFileResult write(const std::string& stream) {
        const std::vector<std::uint8_t> bytes = bytesOf(stream);
        return writeStreamFile(bytes, *firstSegment, settings);
    }

    // The names of everything in the output directory.
    std::vector<std::string> written() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory())) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    std::string content(const std::string& extension) const {
        return readFile(directory() / (std::string(DefaultName) + "." + extension));
    }

    // Everything under the test's root must be the output directory and regular files
    // directly inside it.
    void expectNothingOutsideTheDirectory() const {
        for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
            if (entry.path() == directory()) {
                continue;
            }
            EXPECT_EQ(entry.path().parent_path(), directory()) << entry.path();
            EXPECT_TRUE(entry.is_regular_file()) << entry.path();
        }
    }

    ScopedLocalTimeSource fixedTime{[] { return LocalTime{2003, 7, 14, 16, 5, 9, 250}; }};
    TempDir root;
    StreamFileSettings settings;
    std::unique_ptr<SegmentNode> firstSegment = test::chainOf({test::TcpSegment{}});
};

TEST_F(StreamFileOutput, BodyIsWrittenUnderTheTemplateNameWithTheTypeExtension) {
    const StreamFileResult result =
        write("HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\nGIF89a");
    EXPECT_EQ(result.outcome, StreamFileOutcome::Written);
    EXPECT_FALSE(result.message);
    EXPECT_EQ(result.path, (directory() / (std::string(DefaultName) + ".gif")).string());
    EXPECT_EQ(written(), std::vector<std::string>{std::string(DefaultName) + ".gif"});
    EXPECT_EQ(content("gif"), "GIF89a");
}

TEST_F(StreamFileOutput, BinaryBodiesAreWrittenByteForByte) {
    const std::string body("\x1F\x8B\x08\0\r\n\r\n\xFF\0\0zz", 13);
    write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n\r\n" + body);
    EXPECT_EQ(content("html.gz"), body) << "a compressed body is stored as it came";

    write("HTTP/1.1 206 Partial Content\r\nContent-Type: text/css\r\n\r\npart");
    EXPECT_EQ(content("css"), "part");
}

TEST_F(StreamFileOutput, ChunkedBodyIsDecoded) {
    EXPECT_EQ(write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked"
                    "\r\n\r\n4\r\nabcd\r\n3\r\nefg\r\n0\r\n\r\n")
                  .outcome,
              StreamFileOutcome::Written);
    EXPECT_EQ(content("html"), "abcdefg");

    const std::string letters = "abcdefghijklmnopqrstuvwxyz";
    write("HTTP/1.1 200 OK\r\nServer: x\r\nTransfer-Encoding: chunked\r\n\r\n1A;ext=1\r\n" +
          letters + "\r\n0\r\n\r\n");
    EXPECT_EQ(content("txt"), letters);
}

TEST_F(StreamFileOutput, StreamsThatAreNotHttpFollowTheHttpOnlySwitch) {
    const std::string notFound = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\ngone";
    const std::string request = "GET /index.html HTTP/1.1\r\nHost: a\r\n\r\n";
    const std::string unended = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nServer: x\r\n";
    const std::string http10Crlf = "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nbody";
    for (const std::string& stream : {notFound, request, unended, http10Crlf}) {
        settings.httpOnly = true;
        EXPECT_EQ(write(stream).outcome, StreamFileOutcome::NotStored) << stream;
        EXPECT_TRUE(written().empty());

        settings.httpOnly = false;
        EXPECT_EQ(write(stream).outcome, StreamFileOutcome::Written) << stream;
        EXPECT_EQ(content("txt"), stream) << "stored whole, headers included";
        fs::remove(directory() / (std::string(DefaultName) + ".txt"));
    }
}

TEST_F(StreamFileOutput, Http10WithBareLineFeedsKeepsItsBodyAsText) {
    write("HTTP/1.0 200 OK\nContent-Type: image/gif\n\nGIF89a");
    EXPECT_EQ(content("txt"), "GIF89a");
}

TEST_F(StreamFileOutput, SizeBoundsApplyToTheBodyAsTransferred) {
    const std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n";
    settings.minimumSize = 1000;
    EXPECT_EQ(write(headers + std::string(999, 'b')).outcome, StreamFileOutcome::NotStored)
        << "the headers do not count";
    EXPECT_EQ(write(headers + std::string(1000, 'b')).outcome, StreamFileOutcome::Written);

    settings.overwrite = true;
    settings.minimumSize = 0;
    settings.maximumSize = 999;
    EXPECT_EQ(write(headers + std::string(1000, 'b')).outcome, StreamFileOutcome::NotStored);
    EXPECT_EQ(write(headers + std::string(999, 'b')).outcome, StreamFileOutcome::Written);

    // A chunked body is measured with its size lines: 14 bytes for 4 decoded ones.
    settings.minimumSize = 14;
    const std::string chunked =
        "HTTP/1.1 200 OK\r\nServer: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    EXPECT_EQ(write(chunked + "4\r\nabcd\r\n0\r\n\r\n").outcome, StreamFileOutcome::Written);
    EXPECT_EQ(write(chunked + "4\r\nabcd\r\n0\r\n\r").outcome, StreamFileOutcome::NotStored);

    // Anything else is measured whole.
    settings.httpOnly = false;
    settings.minimumSize = 10;
    settings.maximumSize = 0;
    EXPECT_EQ(write("123456789").outcome, StreamFileOutcome::NotStored);
    EXPECT_EQ(write("1234567890").outcome, StreamFileOutcome::Written);
}

TEST_F(StreamFileOutput, ExistingFileIsKeptUnlessOverWritingIsOn) {
    write("HTTP/1.1 200 OK\r\nServer: x\r\n\r\nfirst");
    const StreamFileResult kept = write("HTTP/1.1 200 OK\r\nServer: x\r\n\r\nsecond");
    EXPECT_EQ(kept.outcome, StreamFileOutcome::FileExists);
    EXPECT_FALSE(kept.message);
    EXPECT_EQ(content("txt"), "first");

    settings.overwrite = true;
    EXPECT_EQ(write("HTTP/1.1 200 OK\r\nServer: x\r\n\r\nthird").outcome,
              StreamFileOutcome::Written);
    EXPECT_EQ(content("txt"), "third");
}

TEST_F(StreamFileOutput, NeitherNetworkNorTemplatesLeadOutOfTheDirectory) {
    settings.overwrite = true;
    const std::vector<std::string> types = {"text/../../x", "a/b/c", "a/" + std::string(300, '.'),
                                            std::string(300, '/'), "a/" + std::string(300, 'x')};
    for (const std::string& type : types) {
        const StreamFileResult result =
            write("HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\n\r\ndata");
        EXPECT_NE(result.outcome, StreamFileOutcome::WriteFailed) << type;
    }
    EXPECT_EQ(content("x"), "data");
    EXPECT_EQ(content("bc"), "data");

    settings.fileNameTemplate = "../../%SIP/../%DAT";
    settings.dateTimeTemplate = "%Y\\..\\%MY\x01";
    const StreamFileResult escaped = write("HTTP/1.1 200 OK\r\nServer: x\r\n\r\nup");
    EXPECT_EQ(escaped.outcome, StreamFileOutcome::Written);
    EXPECT_EQ(fs::path(escaped.path).filename(), ".._.._10.0.0.5_.._2003_.._07_.txt");
    expectNothingOutsideTheDirectory();
}

TEST_F(StreamFileOutput, FailedCreationIsReportedWithThePath) {
    settings.directory = (directory() / "missing").string();
    const StreamFileResult result = write("HTTP/1.1 200 OK\r\nServer: x\r\n\r\nbody");
    EXPECT_EQ(result.outcome, StreamFileOutcome::WriteFailed);
    ASSERT_TRUE(result.message);
    EXPECT_EQ(result.message->text, "Error writing the file:\r\n\r\n" + directory().string() +
                                        "/missing/" + DefaultName +
                                        ".txt\r\n\r\nto the destination, please choose another "
                                        "destination");
    EXPECT_EQ(result.message->caption, "QuillharbourSnifferV1.5");
}

TEST_F(StreamFileOutput, NamesTheSystemCannotTakeAreDroppedSilently) {
    settings.fileNameTemplate = std::string(300, 'n');
    const StreamFileResult tooLong = write("HTTP/1.1 200 OK\r\nServer: x\r\n\r\nbody");
    EXPECT_EQ(tooLong.outcome, StreamFileOutcome::InvalidName);
    EXPECT_FALSE(tooLong.message);

    settings.fileNameTemplate = "n";
    settings.directory = directory().string() + "/" + std::string(10000, 'd');
    EXPECT_EQ(write("HTTP/1.1 200 OK\r\nServer: x\r\n\r\nbody").outcome,
              StreamFileOutcome::InvalidName);
    EXPECT_TRUE(written().empty());
}

TEST_F(StreamFileOutput, DirectoryWithTrailingSlashGetsNoSecondOne) {
    settings.directory = directory().string() + "/";
    EXPECT_EQ(write("HTTP/1.1 200 OK\r\nServer: x\r\n\r\nbody").path,
              directory().string() + "/" + DefaultName + ".txt");
}

}  // namespace
}  // namespace qhs
