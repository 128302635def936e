#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/Templates.h"
#include "filemode/StreamFile.h"
#include "filemode/TcpSegments.h"
#include "support/FileContents.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

namespace fs = std::filesystem;

const std::string Name = "10.0.0.5 to 10.0.0.9 - [2003.07.14 - 16.05.09.250]";
const std::string Ok = "HTTP/1.1 200 OK\r\nServer: x\r\n";

class StreamFileOutput : public testing::Test {
  protected:
    StreamFileOutput() {
        fs::create_directory(directory());
        settings.directory = directory().string();
        settings.fileNameTemplate = "%SIP to %DIP - [%DAT]";
        settings.dateTimeTemplate = "%Y.%MY.%D - %H24:%MN:%S.%MS";
    }

    fs::path directory() const { return root.path() / "out"; }

    StreamFileResult write(const std::string& stream) {
        return writeStreamFile(test::bytesOf(stream), *firstSegment, settings);
    }

    // The content of the file named by the template with this extension, "" if absent.
    std::string content(const std::string& extension) const {
        std::ifstream in(directory() / (Name + "." + extension), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::size_t fileCount() const {
        const auto entries = fs::directory_iterator(directory());
        return static_cast<std::size_t>(std::distance(fs::begin(entries), fs::end(entries)));
    }

    ScopedLocalTimeSource fixedTime{[] { return LocalTime{2003, 7, 14, 16, 5, 9, 250}; }};
    TempDir root;
    StreamFileSettings settings;
    test::SegmentChain firstSegment{{test::TcpSegment{}}};
};

TEST_F(StreamFileOutput, BodyIsWrittenUnderTheTemplateNameWithTheTypeExtension) {
    const StreamFileResult result =
        write("HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\nGIF89a");
    EXPECT_EQ(result.outcome, StreamFileOutcome::Written);
    EXPECT_FALSE(result.message);
    EXPECT_EQ(result.path, directory().string() + "/" + Name + ".gif");
    EXPECT_EQ(content("gif"), "GIF89a");

    // Compressed bodies are kept as they came, binary bytes and all.
    const std::string gzip("\x1F\x8B\x08\0\r\n\r\n\xFF\0zz", 12);
    write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n\r\n" + gzip);
    EXPECT_EQ(content("html.gz"), gzip);
    write("HTTP/1.1 206 Partial Content\r\nContent-Type: text/css\r\n\r\npart");
    EXPECT_EQ(content("css"), "part");
    write("HTTP/1.0 200 OK\nContent-Type: image/png\n\nbare");
    EXPECT_EQ(content("txt"), "bare");
}

TEST_F(StreamFileOutput, ChunkedBodyIsDecoded) {
    write(
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
        "4\r\nabcd\r\n3\r\nefg\r\n0\r\n\r\n");
    EXPECT_EQ(content("html"), "abcdefg");
}

TEST_F(StreamFileOutput, StreamsThatAreNotHttpFollowTheHttpOnlySwitch) {
    for (const char* stream : {"HTTP/1.1 404 Not Found\r\nServer: x\r\n\r\ngone",
                               "GET /index.html HTTP/1.1\r\nHost: a\r\n\r\n",
                               "HTTP/1.1 200 OK\r\nServer: x\r\nContent-Type: text/html\r\n",
                               "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nbody"}) {
        settings.httpOnly = true;
        EXPECT_EQ(write(stream).outcome, StreamFileOutcome::NotStored) << stream;
        EXPECT_EQ(fileCount(), 0u);
        settings.httpOnly = false;
        EXPECT_EQ(write(stream).outcome, StreamFileOutcome::Written) << stream;
        EXPECT_EQ(content("txt"), stream) << "stored whole, headers included";
        fs::remove(directory() / (Name + ".txt"));
    }
}

TEST_F(StreamFileOutput, SizeBoundsApplyToTheBodyAsTransferred) {
    settings.overwrite = true;
    const auto outcome = [&](std::uint32_t minimum, std::uint32_t maximum, const std::string& s) {
        settings.minimumSize = minimum;
        settings.maximumSize = maximum;
        return write(s).outcome == StreamFileOutcome::Written;
    };
    const std::string head = Ok + "\r\n";
    EXPECT_FALSE(outcome(1000, 0, head + std::string(999, 'b'))) << "the headers do not count";
    EXPECT_TRUE(outcome(1000, 0, head + std::string(1000, 'b')));
    EXPECT_FALSE(outcome(0, 999, head + std::string(1000, 'b')));
    EXPECT_TRUE(outcome(0, 999, head + std::string(999, 'b')));
    // A chunked body counts with its size lines: 14 bytes for 4 decoded ones.
    const std::string chunked = Ok + "Transfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r";
    EXPECT_TRUE(outcome(14, 0, chunked + "\n"));
    EXPECT_FALSE(outcome(14, 0, chunked));
    settings.httpOnly = false;
    EXPECT_FALSE(outcome(10, 0, "123456789")) << "anything else counts whole";
    EXPECT_TRUE(outcome(10, 0, "1234567890"));
}

TEST_F(StreamFileOutput, ExistingFileIsKeptAndTheNewStreamNumberedUnlessOverWritingIsOn) {
    const StreamFileResult first = write(Ok + "\r\nfirst");
    const StreamFileResult second = write(Ok + "\r\nsecond");
    const StreamFileResult third = write(Ok + "\r\nthird");
    EXPECT_EQ(second.outcome, StreamFileOutcome::Written);
    EXPECT_FALSE(second.message);
    EXPECT_EQ(content("txt"), "first");
    ASSERT_TRUE(first.path.ends_with(".txt"));
    const std::string stem = first.path.substr(0, first.path.size() - 4);
    EXPECT_EQ(second.path, stem + " (2).txt");
    EXPECT_EQ(third.path, stem + " (3).txt");
    EXPECT_EQ(content("txt"), "first");
    EXPECT_EQ(fileCount(), 3u);
    settings.overwrite = true;
    EXPECT_EQ(write(Ok + "\r\nfourth").outcome, StreamFileOutcome::Written);
    EXPECT_EQ(content("txt"), "fourth");
}

TEST_F(StreamFileOutput, BodyCutShortIsMarkedIncompleteAndAWholeOneNever) {
    const std::string sized = Ok + "Content-Length: 10\r\n\r\n";
    EXPECT_EQ(write(sized + "0123456789").outcome, StreamFileOutcome::Written);
    EXPECT_EQ(content("txt"), "0123456789");
    const StreamFileResult cut = write(sized + "01234");
    EXPECT_EQ(cut.outcome, StreamFileOutcome::WrittenIncomplete);
    EXPECT_TRUE(cut.path.ends_with(Name + " (incomplete).txt")) << cut.path;
    EXPECT_EQ(content("txt"), "0123456789") << "the whole one stays";

    const std::string chunked = Ok + "Transfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n";
    EXPECT_EQ(write(chunked).outcome, StreamFileOutcome::WrittenIncomplete) << "no last chunk";
    EXPECT_EQ(write(chunked + "0\r\n\r\n").outcome, StreamFileOutcome::Written);
    // Without a length nothing says the body is short.
    EXPECT_EQ(write(Ok + "\r\nanything").outcome, StreamFileOutcome::Written);
}

TEST_F(StreamFileOutput, NeitherNetworkNorTemplatesLeadOutOfTheDirectory) {
    settings.overwrite = true;
    for (const std::string& type :
         {std::string("text/../../x"), std::string("a/b/c"), "a/" + std::string(300, '.'),
          std::string(300, '/'), "a/" + std::string(300, 'x')}) {
        const StreamFileResult result = write(Ok + "Content-Type: " + type + "\r\n\r\ndata");
        EXPECT_EQ(result.outcome, StreamFileOutcome::Written) << type;
    }
    EXPECT_EQ(content("x"), "data");
    EXPECT_EQ(content("bc"), "data");

    settings.fileNameTemplate = "../../%SIP/../%DAT";
    settings.dateTimeTemplate = "%Y\\..\\%MY\x01";
    const StreamFileResult escaped = write(Ok + "\r\nup");
    EXPECT_EQ(fs::path(escaped.path).filename(), ".._.._10.0.0.5_.._2003_.._07_.txt");
    for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
        if (entry.path() != directory()) {
            EXPECT_EQ(entry.path().parent_path(), directory()) << entry.path();
        }
    }
}

TEST_F(StreamFileOutput, NameTakenByALinkFifoOrFolderNeverLeadsTheWriteElsewhere) {
    const fs::path outside = root.path() / "outside";
    fs::create_directory(outside);
    writeFileContents(outside / "victim", "untouched");
    const fs::path next = directory() / (Name + ".txt");
    const auto takeNextName = [&](int kind) {
        fs::remove_all(next);
        if (kind == 0) {
            fs::create_symlink(outside / "victim", next);
        } else if (kind == 1) {
            fs::create_symlink(outside / "created", next);  // dangling
        } else if (kind == 2) {
            fs::create_directory_symlink(outside, next);
        } else {
            ASSERT_EQ(::mkfifo(next.c_str(), 0644), 0);
        }
    };
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE(kind);
        settings.overwrite = true;
        takeNextName(kind);
        const StreamFileResult replacing = write(Ok + "\r\nfrom the network");
        EXPECT_EQ(replacing.outcome, StreamFileOutcome::WriteFailed);
        ASSERT_TRUE(replacing.message);
        EXPECT_TRUE(replacing.message->text.starts_with("Error writing the file:\r\n\r\n"));
        // Without over-writing the name counts as taken: the stream gets the next number.
        settings.overwrite = false;
        const StreamFileResult numbered = write(Ok + "\r\nfrom the network");
        EXPECT_EQ(numbered.outcome, StreamFileOutcome::Written);
        EXPECT_TRUE(numbered.path.ends_with(Name + " (2).txt")) << numbered.path;
        fs::remove(numbered.path);
        EXPECT_EQ(fileContents(outside / "victim"), "untouched");
        EXPECT_FALSE(fs::exists(outside / "created"));
        EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    }
}

TEST_F(StreamFileOutput, FailedCreationIsReportedButInvalidNamesAreNot) {
    settings.directory = directory().string() + "/missing/";
    const StreamFileResult failed = write(Ok + "\r\nbody");
    EXPECT_EQ(failed.outcome, StreamFileOutcome::WriteFailed);
    ASSERT_TRUE(failed.message);
    EXPECT_EQ(failed.message->text, "Error writing the file:\r\n\r\n" + settings.directory + Name +
                                        ".txt\r\n\r\nto the destination, please choose another "
                                        "destination");
    EXPECT_EQ(failed.message->caption, "QuillharbourSnifferV1.5");

    settings.directory = directory().string();
    settings.fileNameTemplate = std::string(300, 'n');
    EXPECT_EQ(write(Ok + "\r\nbody").outcome, StreamFileOutcome::InvalidName);
    settings.fileNameTemplate = "n";
    settings.directory += "/" + std::string(10000, 'd');
    const StreamFileResult tooLong = write(Ok + "\r\nbody");
    EXPECT_EQ(tooLong.outcome, StreamFileOutcome::InvalidName);
    EXPECT_FALSE(tooLong.message);
    EXPECT_EQ(fileCount(), 0u);
}

}  // namespace
}  // namespace qhs
