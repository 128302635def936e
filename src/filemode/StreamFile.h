#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/SettingsRecord.h"
#include "app/Templates.h"
#include "app/UserMessage.h"
#include "filemode/HttpResponse.h"
#include "filemode/SegmentNode.h"

namespace qhs {

// What writing a stream's file depends on: the window's directory, switches and size
// bounds (0 = no bound) and the two name templates.
struct StreamFileSettings {
    std::string directory;
    std::string fileNameTemplate;
    std::string dateTimeTemplate;
    bool overwrite = false;
    bool httpOnly = true;
    std::uint32_t minimumSize = 0;
    std::uint32_t maximumSize = 0;
};

StreamFileSettings streamFileSettings(const SettingsRecord& record);

// A written path is at most this long; a longer one counts as an invalid name.
inline constexpr std::size_t MaximumStreamFilePath = 9999;

enum class StreamFileOutcome {
    Written,
    // Written, but the data ended before the body did (short of its Content-Length, or
    // chunked without the last chunk): its name says "(incomplete)".
    WrittenIncomplete,
    NotStored,    // not HTTP with the HTTP-only switch on, or outside the size bounds
    FileExists,   // over-writing is off and 10000 files of its name are there: dropped
    InvalidName,  // the system refused the name: dropped without a message
    WriteFailed,  // the file could not be created or written: see `message`
};

struct StreamFileResult {
    StreamFileOutcome outcome = StreamFileOutcome::NotStored;
    std::string path;                    // the path built, once the stream is to be stored
    std::optional<UserMessage> message;  // for the window to show
    // Why the file was not written (WriteFailed, InvalidName): the system's error and what
    // it concerns, the output folder or the file's path.
    int error = 0;
    std::string errorPath;
    // Once written: the bytes in the file and the response's Content-Type ("" when none).
    std::uint64_t size = 0;
    std::string contentType;
};

// A file written, as told to whoever follows the run: its path, size and whether its body
// ended early, the stream's two ends (the server sent the data, the client acknowledged it;
// addresses as text, dotted IPv4 or RFC 5952 IPv6) and the Content-Type the response declared.
struct WrittenFile {
    std::string path;
    std::uint64_t size = 0;
    bool incomplete = false;
    std::string clientAddress;
    std::uint16_t clientPort = 0;
    std::string serverAddress;
    std::uint16_t serverPort = 0;
    std::string contentType;
};

// Whether the stream is stored, by the HTTP-only switch and the size bounds. The size of
// an HTTP response is its body as transferred (chunk size lines included), of anything
// else the whole data.
bool shouldStore(const ResponseInfo& response, std::size_t dataLength,
                 const StreamFileSettings& settings);

// The name of a stream's file inside the output directory: the expanded file name
// template, then "." and the extension. The file always lies directly in the directory:
// every '/' and control character of the expanded name becomes '_', and the extension is
// already safe (safeExtension). A `number` above 1 goes before the extension as " (2)",
// for a stream whose name is taken; an incomplete body has " (incomplete)" before both.
// The date in the name is `completedAt`, or the local time now.
// The addresses are their text (see expandFileName) or IPv4 addresses in network order.
std::string streamFileName(const StreamFileSettings& settings, std::string_view sourceAddress,
                           std::string_view destinationAddress, std::string_view extension,
                           int number = 1, bool incomplete = false,
                           const std::optional<LocalTime>& completedAt = std::nullopt);
std::string streamFileName(const StreamFileSettings& settings, std::uint32_t sourceAddress,
                           std::uint32_t destinationAddress, std::string_view extension,
                           int number = 1, bool incomplete = false,
                           const std::optional<LocalTime>& completedAt = std::nullopt);

// Whether the data ends before the body of the response does.
bool isIncompleteBody(std::span<const std::uint8_t> joined, const ResponseInfo& response);

// The directory, a '/' unless it already ends in one, and the name.
std::string streamFilePath(std::string_view directory, std::string_view name);

// Decides whether the joined data of a stream is stored and writes it: an HTTP response
// as its body (chunked coding decoded, compression kept), anything else whole. Without
// over-writing an existing file is never touched: the stream gets the first free numbered
// name. The addresses of the name come from the stream's first segment in arrival order,
// its date from `completedAt` (the local time now when not given).
StreamFileResult writeStreamFile(std::span<const std::uint8_t> joined,
                                 const SegmentNode& firstSegment,
                                 const StreamFileSettings& settings,
                                 const std::optional<LocalTime>& completedAt = std::nullopt);
// The same for a response whose two ends are known by their address text (the server sent
// it, named first by %SIP); `cutShort` names it incomplete whatever its headers say (the
// connection ended before it did).
StreamFileResult writeStreamFile(std::span<const std::uint8_t> joined,
                                 std::string_view serverAddress, std::string_view clientAddress,
                                 const StreamFileSettings& settings,
                                 const std::optional<LocalTime>& completedAt, bool cutShort);

std::string writeErrorText(std::string_view path);

}  // namespace qhs
