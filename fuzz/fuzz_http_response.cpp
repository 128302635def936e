// A joined stream through the response decoding and the file it becomes. The first byte
// holds the switches, the second the length of a file name template taken from the bytes
// that follow; the rest is the stream's data. Everything is written into out/ of a scratch
// folder, which must afterwards hold nothing but the regular files reported as written,
// and nothing may appear beside out/.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "app/SettingsRecord.h"
#include "app/Templates.h"
#include "filemode/HttpResponse.h"
#include "filemode/SegmentNode.h"
#include "filemode/StreamFile.h"

namespace {

using namespace qhs;
using qhs::fuzz::ScratchFolder;

bool isSafeExtension(const std::string& extension) {
    if (extension.empty() || extension.front() == '.' || extension.back() == '.' ||
        extension.find("..") != std::string::npos) {
        return false;
    }
    for (const char c : extension) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '_' || c == '.';
        if (!safe) {
            return false;
        }
    }
    return true;
}

// What the file of a stored stream must hold.
std::string expectedContent(std::span<const std::uint8_t> joined, const ResponseInfo& response) {
    const auto text = [](std::span<const std::uint8_t> bytes) {
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    };
    if (!response.isHttp) {
        return text(joined);
    }
    if (!response.chunked) {
        return text(joined.subspan(response.bodyStart));
    }
    std::string body;
    decodeChunkedBody(joined, response.bodyStart,
                      [&](std::span<const std::uint8_t> chunk) { body += text(chunk); });
    return body;
}

// A TCP datagram from 192.168.7.1 to 10.1.2.3, the stream's first segment.
std::vector<std::uint8_t> firstSegmentBytes() {
    std::vector<std::uint8_t> bytes(40, 0);
    bytes[0] = 0x45;
    bytes[3] = 40;
    bytes[9] = 6;
    const std::uint8_t addresses[8] = {192, 168, 7, 1, 10, 1, 2, 3};
    std::copy(std::begin(addresses), std::end(addresses), bytes.begin() + 12);
    bytes[32] = 0x50;
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFolder scratch("http");
    static const std::vector<std::uint8_t> segmentBytes = firstSegmentBytes();
    static const ScopedLocalTimeSource fixedTime(&fuzz::fixedLocalTime);
    if (size < 2) {
        return 0;
    }
    const std::uint8_t switches = data[0];
    const std::size_t templateLength = std::min<std::size_t>(data[1], size - 2);
    const std::string nameTemplate(reinterpret_cast<const char*>(data + 2), templateLength);
    const std::span<const std::uint8_t> joined(data + 2 + templateLength,
                                               size - 2 - templateLength);

    const ResponseInfo response = examineResponse(joined);
    QHS_FUZZ_REQUIRE(isSafeExtension(response.extension));
    if (response.isHttp) {
        QHS_FUZZ_REQUIRE(response.bodyStart <= joined.size());
    }
    if (response.chunked) {
        std::size_t previousEnd = response.bodyStart;
        decodeChunkedBody(joined, response.bodyStart, [&](std::span<const std::uint8_t> chunk) {
            // Chunks lie inside the data, in order, never overlapping.
            QHS_FUZZ_REQUIRE(chunk.data() >= joined.data() + previousEnd);
            QHS_FUZZ_REQUIRE(chunk.data() + chunk.size() <= joined.data() + joined.size());
            previousEnd = static_cast<std::size_t>(chunk.data() + chunk.size() - joined.data());
        });
    }

    scratch.empty();
    const std::filesystem::path out = scratch.path() / "out";
    std::filesystem::create_directory(out);
    StreamFileSettings settings;
    settings.directory = out.string();
    settings.fileNameTemplate =
        templateLength > 0 ? nameTemplate : std::string(DefaultFileNameTemplate);
    settings.dateTimeTemplate = std::string(DefaultDateTimeTemplate);
    settings.overwrite = (switches & 1) != 0;
    settings.httpOnly = (switches & 2) != 0;
    settings.minimumSize = (switches & 4) != 0 ? 16 : 0;
    settings.maximumSize = (switches & 8) != 0 ? 256 : 0;

    SegmentNode first;
    first.data = segmentBytes.data();
    first.length = static_cast<std::uint16_t>(segmentBytes.size());
    // A second run of the same stream finds the name taken.
    const int runs = (switches & 16) != 0 ? 2 : 1;
    std::vector<std::string> writtenPaths;
    for (int run = 0; run < runs; ++run) {
        const StreamFileResult result = writeStreamFile(joined, first, settings);
        const bool written = result.outcome == StreamFileOutcome::Written ||
                             result.outcome == StreamFileOutcome::WrittenIncomplete;
        QHS_FUZZ_REQUIRE(written == shouldStore(response, joined.size(), settings) ||
                         result.outcome == StreamFileOutcome::InvalidName);
        if (!written) {
            continue;
        }
        QHS_FUZZ_REQUIRE((result.outcome == StreamFileOutcome::WrittenIncomplete) ==
                         isIncompleteBody(joined, response));
        const std::filesystem::path path(result.path);
        QHS_FUZZ_REQUIRE(path.parent_path() == out);
        QHS_FUZZ_REQUIRE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
        QHS_FUZZ_REQUIRE(fuzz::fileContents(path) == expectedContent(joined, response));
        if (!settings.overwrite) {
            for (const std::string& earlier : writtenPaths) {
                QHS_FUZZ_REQUIRE(earlier != result.path);
            }
        }
        writtenPaths.push_back(result.path);
    }
    // Nothing beside out/, and in it only the files written.
    long entriesBeside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
        QHS_FUZZ_REQUIRE(entry.path() == out);
        ++entriesBeside;
    }
    QHS_FUZZ_REQUIRE(entriesBeside == 1);
    const long files = fuzz::regularFileCount(out);
    QHS_FUZZ_REQUIRE(files >= 0);
    if (settings.overwrite && !writtenPaths.empty()) {
        QHS_FUZZ_REQUIRE(files == 1);
    } else {
        QHS_FUZZ_REQUIRE(files == static_cast<long>(writtenPaths.size()));
    }
    return 0;
}
