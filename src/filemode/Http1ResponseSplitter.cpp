#include "filemode/Http1ResponseSplitter.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "app/NumberText.h"

namespace qhs {

namespace {

constexpr std::string_view HttpPrefix = "HTTP/";
// Only the start of a header line is needed to read the headers that frame a response.
constexpr std::size_t ReadLineLimit = 1024;
// A body of this size or more is never read to its end; a larger number is held here.
constexpr std::uint64_t Unbounded = std::numeric_limits<std::uint64_t>::max();
// What a handed-over response may leave allocated for the next one.
constexpr std::size_t KeptCapacity = 1 << 20;

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool equalsIgnoringCase(std::string_view text, std::string_view lowerCase) {
    return text.size() == lowerCase.size() &&
           std::equal(text.begin(), text.end(), lowerCase.begin(),
                      [](char a, char b) { return lower(a) == b; });
}

// A Content-Length value: decimal digits only, held at Unbounded past its range.
std::optional<std::uint64_t> contentLength(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (Unbounded - digit) / 10 ? Unbounded : value * 10 + digit;
    }
    return value;
}

// The three-digit code of a status line ("HTTP/1.1 200 OK"), or 0.
int statusCode(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() - space < 4) {
        return 0;
    }
    int code = 0;
    for (std::size_t at = space + 1; at < space + 4; ++at) {
        if (line[at] < '0' || line[at] > '9') {
            return 0;
        }
        code = code * 10 + (line[at] - '0');
    }
    return code;
}

}  // namespace

Http1ResponseSplitter::Http1ResponseSplitter(ResponseSink sink, std::uint64_t responseLimit)
    : sink_(std::move(sink)), responseLimit_(responseLimit) {}

void Http1ResponseSplitter::append(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty() && state_ != State::Finished) {
        std::size_t used = 0;
        switch (state_) {
            case State::Start:
                used = readStart(bytes);
                break;
            case State::Header:
                used = readHeader(bytes);
                break;
            case State::Length:
                used = readCounted(bytes, State::Start);
                break;
            case State::ChunkSize:
                used = readChunkSize(bytes);
                break;
            case State::ChunkData:
                used = readCounted(bytes, State::ChunkDataEnd);
                break;
            case State::ChunkDataEnd:
                used = readCounted(bytes, State::ChunkSize);
                break;
            case State::Trailer:
                used = readTrailer(bytes);
                break;
            case State::UntilClose:
            case State::NotHttp:
                keep(bytes);
                used = bytes.size();
                break;
            case State::Finished:
                break;
        }
        bytes = bytes.subspan(used);
    }
}

void Http1ResponseSplitter::finish() {
    switch (state_) {
        case State::Start:
            // Part of "HTTP/" and no more: a status line cut short.
            if (prefixMatched_ > 0) {
                endResponse(false);
            }
            break;
        case State::Header:
            // An informational response is never handed over, whole or not.
            if (status_ < 100 || status_ > 199) {
                endResponse(false);
            }
            break;
        case State::UntilClose:
        case State::NotHttp:
            endResponse(true);
            break;
        case State::Finished:
            break;
        default:
            endResponse(false);
            break;
    }
    state_ = State::Finished;
    message_ = {};
    line_ = {};
}

std::size_t Http1ResponseSplitter::readStart(std::span<const std::uint8_t> bytes) {
    const auto c = static_cast<char>(bytes[0]);
    // A stray line end between two responses is passed over, not taken for other data.
    if (prefixMatched_ == 0 && anyResponse_ && (c == '\r' || c == '\n')) {
        return 1;
    }
    if (lower(c) != lower(HttpPrefix[prefixMatched_])) {
        state_ = State::NotHttp;
        return 0;
    }
    keep(bytes.first(1));
    if (++prefixMatched_ == HttpPrefix.size()) {
        state_ = State::Header;
        line_ = HttpPrefix;
    }
    return 1;
}

std::size_t Http1ResponseSplitter::readHeader(std::span<const std::uint8_t> bytes) {
    const auto* lineEnd =
        static_cast<const std::uint8_t*>(std::memchr(bytes.data(), '\n', bytes.size()));
    const std::size_t used =
        lineEnd == nullptr ? bytes.size() : static_cast<std::size_t>(lineEnd - bytes.data()) + 1;
    keep(bytes.first(used));
    const std::size_t lineBytes = lineEnd == nullptr ? used : used - 1;
    const std::size_t room = ReadLineLimit - std::min(ReadLineLimit, line_.size());
    line_.append(reinterpret_cast<const char*>(bytes.data()), std::min(lineBytes, room));
    if (lineEnd != nullptr) {
        headerLineEnded();
    }
    return used;
}

void Http1ResponseSplitter::headerLineEnded() {
    std::string_view line = line_;
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (!statusLineRead_) {
        statusLineRead_ = true;
        status_ = statusCode(line);
    } else if (line.empty()) {
        line_.clear();
        headerBlockEnded();
        return;
    } else if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
        const std::string_view name = trimmed(line.substr(0, colon));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (equalsIgnoringCase(name, "content-length") && !lengthKnown_) {
            if (const std::optional<std::uint64_t> length = contentLength(value)) {
                lengthKnown_ = true;
                remaining_ = *length;
            }
        } else if (equalsIgnoringCase(name, "transfer-encoding")) {
            // The body is chunked when chunked is the last coding applied to it.
            transferEncoding_ = true;
            const std::size_t comma = value.rfind(',');
            chunked_ = equalsIgnoringCase(
                trimmed(comma == std::string_view::npos ? value : value.substr(comma + 1)),
                "chunked");
        }
    }
    line_.clear();
}

void Http1ResponseSplitter::headerBlockEnded() {
    if (status_ >= 100 && status_ <= 199) {
        // An interim response: the real one follows on the same connection.
        dropped_ = true;
        endResponse(true);
    } else if (status_ == 204 || status_ == 304) {
        endResponse(true);
    } else if (transferEncoding_) {
        // A Transfer-Encoding overrides any Content-Length; without chunked as its last
        // coding, only the end of the connection ends the body.
        if (chunked_) {
            state_ = State::ChunkSize;
            sizeDigits_ = sizeEnded_ = false;
            chunkSize_ = 0;
        } else {
            state_ = State::UntilClose;
        }
    } else if (lengthKnown_) {
        state_ = State::Length;
        if (remaining_ == 0) {
            endResponse(true);
        }
    } else {
        state_ = State::UntilClose;
    }
}

std::size_t Http1ResponseSplitter::readCounted(std::span<const std::uint8_t> bytes, State next) {
    const auto used = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, bytes.size()));
    keep(bytes.first(used));
    remaining_ -= used;
    if (remaining_ == 0) {
        if (next == State::Start) {
            endResponse(true);
        } else {
            // A chunk is followed by its CR LF; ChunkDataEnd passes over those two bytes.
            state_ = next;
            remaining_ = next == State::ChunkDataEnd ? 2 : 0;
            sizeDigits_ = sizeEnded_ = false;
            chunkSize_ = 0;
        }
    }
    return used;
}

std::size_t Http1ResponseSplitter::readChunkSize(std::span<const std::uint8_t> bytes) {
    std::size_t used = 0;
    while (used < bytes.size()) {
        const std::uint8_t c = bytes[used];
        const int digit = hexDigitValue(c);
        if (c == '\n' && sizeDigits_) {
            keep(bytes.first(used + 1));
            if (chunkSize_ == 0) {
                state_ = State::Trailer;
                trailerLineEmpty_ = true;
            } else {
                state_ = State::ChunkData;
                remaining_ = chunkSize_;
            }
            return used + 1;
        }
        if (!sizeDigits_ && digit < 0 && !isBlank(static_cast<char>(c))) {
            // No size to go on with: the response ends before this byte, which starts
            // whatever comes next.
            keep(bytes.first(used));
            endResponse(true);
            return used;
        }
        if (digit >= 0 && !sizeEnded_) {
            sizeDigits_ = true;
            chunkSize_ = chunkSize_ > (Unbounded >> 4)
                             ? Unbounded
                             : chunkSize_ * 16 + static_cast<std::uint64_t>(digit);
        } else if (sizeDigits_) {
            // A chunk extension or the CR: the rest of the line is passed over.
            sizeEnded_ = true;
        }
        ++used;
    }
    keep(bytes);
    return used;
}

std::size_t Http1ResponseSplitter::readTrailer(std::span<const std::uint8_t> bytes) {
    for (std::size_t used = 0; used < bytes.size(); ++used) {
        const std::uint8_t c = bytes[used];
        if (c == '\n') {
            if (trailerLineEmpty_) {
                keep(bytes.first(used + 1));
                endResponse(true);
                return used + 1;
            }
            trailerLineEmpty_ = true;
        } else if (c != '\r') {
            trailerLineEmpty_ = false;
        }
    }
    keep(bytes);
    return bytes.size();
}

void Http1ResponseSplitter::keep(std::span<const std::uint8_t> bytes) {
    if (dropped_ || bytes.empty()) {
        return;
    }
    if (responseLimit_ != 0 &&
        bytes.size() > responseLimit_ - std::min<std::uint64_t>(responseLimit_, message_.size())) {
        dropped_ = true;
        message_ = {};
        return;
    }
    message_.insert(message_.end(), bytes.begin(), bytes.end());
}

void Http1ResponseSplitter::endResponse(bool ended) {
    if (!dropped_) {
        sink_(message_, ended);
    }
    if (message_.capacity() > KeptCapacity) {
        message_ = {};
    } else {
        message_.clear();
    }
    dropped_ = false;
    anyResponse_ = true;
    prefixMatched_ = 0;
    line_.clear();
    statusLineRead_ = false;
    status_ = 0;
    chunked_ = transferEncoding_ = lengthKnown_ = false;
    remaining_ = 0;
    state_ = State::Start;
}

}  // namespace qhs
