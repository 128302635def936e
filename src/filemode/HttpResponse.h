#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qhs {

// What examining a joined stream found out about it.
struct ResponseInfo {
    bool isHttp = false;    // an accepted HTTP response
    bool isHttp11 = false;  // its status line is one of the two HTTP/1.1 forms
    std::size_t bodyStart = 0;
    bool compressed = false;  // Content-Encoding names a compression
    bool chunked = false;     // Transfer-Encoding is chunked
    // The body's length as Content-Length gives it (HTTP/1.1), when it does.
    std::optional<std::uint64_t> contentLength;
    std::string extension = "txt";
    // The Content-Type's media type in lower case ("text/html"), when it gives one.
    std::string contentType;
};

enum class HttpStatusLine { None, Http11, Http10 };

// The accepted status lines, compared over the first 12 bytes ignoring letter case:
// "HTTP/1.1 200" and "HTTP/1.1 206" (Http11), "HTTP/1.0 200" (Http10). Nothing after the
// code is looked at; any other code is None.
HttpStatusLine httpStatusLine(std::span<const std::uint8_t> data);

// Examines joined data: the status line, the end of the header block, and for HTTP/1.1 the
// Content-Encoding, Transfer-Encoding and Content-Type headers. An HTTP/1.0 response has
// its header block end at two adjacent line feeds and keeps "txt".
ResponseInfo examineResponse(std::span<const std::uint8_t> data);

// The value of the header whose name starts at `position` of `headerBlock`: after the
// first blank past the name, blanks skipped, up to a CR, an LF, a semicolon, the end of
// the block or 99 characters.
std::string headerValue(std::string_view headerBlock, std::size_t position);

// Where a header name occurs in a header block, searched from character 17 on (the status
// line and its line end come before); npos when absent.
std::size_t findHeader(std::string_view headerBlock, std::string_view name);

// A file extension made of what a Content-Type value holds after its first slash, kept
// safe as part of a file name: only ASCII letters, digits, '-', '+', '_' and '.', with no
// run of dots and no dot at either end, so it can never name a folder or climb out of one.
// Nothing usable left gives "txt".
std::string safeExtension(std::string_view text);

// Decodes chunked transfer coding from `bodyStart`, handing each chunk's bytes to
// `chunk` in order. A size is read as "%x" reads it (white space skipped, an optional 0x,
// digits of either case, saturating at 0xFFFFFFFF). Decoding ends at a size of 0, at a
// size line that holds no number, at a size line without a CR, and before a chunk that
// does not end before the data does. True when it ended at the last chunk, a size of 0: the
// body is whole.
bool decodeChunkedBody(std::span<const std::uint8_t> data, std::size_t bodyStart,
                       const std::function<void(std::span<const std::uint8_t>)>& chunk);

}  // namespace qhs
