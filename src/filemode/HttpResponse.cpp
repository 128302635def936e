#include "filemode/HttpResponse.h"

#include "app/NumberText.h"

#include <algorithm>

namespace qhs {

namespace {

constexpr std::size_t StatusLineCompared = 12;
constexpr std::size_t HeaderSearchStart = 17;
constexpr std::size_t HeaderValueLimit = 99;

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view text, std::string_view upperCase) {
    return text.size() == upperCase.size() &&
           std::equal(text.begin(), text.end(), upperCase.begin(),
                      [](char a, char b) { return upper(a) == b; });
}

std::string_view asText(std::span<const std::uint8_t> data) {
    return {reinterpret_cast<const char*>(data.data()), data.size()};
}

std::string converted(std::string_view text, char (*convert)(char)) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), convert);
    return result;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isSafeExtensionCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '+' || c == '_' || c == '.';
}

bool isScanSpace(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The chunk size at the start of `text`, as "%x" reads it. `numberAt` is the offset of
// the first character after the skipped white space.
struct ChunkSize {
    bool found = false;
    std::uint64_t value = 0;
    std::size_t numberAt = 0;
};

ChunkSize readChunkSize(std::span<const std::uint8_t> text) {
    ChunkSize size;
    std::size_t at = 0;
    while (at < text.size() && isScanSpace(text[at])) {
        ++at;
    }
    size.numberAt = at;
    if (at + 2 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X') &&
        hexDigitValue(text[at + 2]) >= 0) {
        at += 2;
    }
    constexpr std::uint64_t Saturated = 0xFFFFFFFFu;
    for (; at < text.size(); ++at) {
        const int digit = hexDigitValue(text[at]);
        if (digit < 0) {
            break;
        }
        size.found = true;
        size.value =
            std::min<std::uint64_t>(size.value * 16 + static_cast<std::uint64_t>(digit), Saturated);
    }
    return size;
}

// A Content-Length value: decimal digits only, at most 18 of them; anything else is none.
std::optional<std::uint64_t> decimalLength(std::string_view text) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

}  // namespace

HttpStatusLine httpStatusLine(std::span<const std::uint8_t> data) {
    if (data.size() < StatusLineCompared) {
        return HttpStatusLine::None;
    }
    const std::string_view line = asText(data.first(StatusLineCompared));
    if (equalsIgnoringCase(line, "HTTP/1.1 200") || equalsIgnoringCase(line, "HTTP/1.1 206")) {
        return HttpStatusLine::Http11;
    }
    if (equalsIgnoringCase(line, "HTTP/1.0 200")) {
        return HttpStatusLine::Http10;
    }
    return HttpStatusLine::None;
}

std::size_t findHeader(std::string_view headerBlock, std::string_view name) {
    if (headerBlock.size() <= HeaderSearchStart) {
        return std::string_view::npos;
    }
    return headerBlock.find(name, HeaderSearchStart);
}

std::string headerValue(std::string_view headerBlock, std::size_t position) {
    std::size_t at = position;
    while (at < headerBlock.size() && !isBlank(headerBlock[at])) {
        ++at;
    }
    while (at < headerBlock.size() && isBlank(headerBlock[at])) {
        ++at;
    }
    std::string value;
    while (at < headerBlock.size() && value.size() < HeaderValueLimit) {
        const char c = headerBlock[at++];
        if (c == '\r' || c == '\n' || c == ';') {
            break;
        }
        value += c;
    }
    return value;
}

std::string safeExtension(std::string_view text) {
    std::string kept;
    for (const char c : text) {
        if (!isSafeExtensionCharacter(c) || (c == '.' && (kept.empty() || kept.back() == '.'))) {
            continue;
        }
        kept += c;
    }
    while (!kept.empty() && kept.back() == '.') {
        kept.pop_back();
    }
    return kept.empty() ? "txt" : kept;
}

ResponseInfo examineResponse(std::span<const std::uint8_t> data) {
    ResponseInfo info;
    const HttpStatusLine statusLine = httpStatusLine(data);
    const std::string_view text = asText(data);
    if (statusLine == HttpStatusLine::Http10) {
        const std::size_t end = text.find("\n\n");
        if (end == std::string_view::npos) {
            return info;
        }
        info.isHttp = true;
        info.bodyStart = end + 2;
    } else if (statusLine == HttpStatusLine::Http11) {
        const std::size_t end = text.find("\r\n\r\n");
        if (end == std::string_view::npos) {
            return info;
        }
        info.isHttp = true;
        info.isHttp11 = true;
        info.bodyStart = end + 4;

        const std::string upperBlock = converted(text.substr(0, end), upper);
        if (const std::size_t at = findHeader(upperBlock, "CONTENT-ENCODING:");
            at != std::string::npos) {
            const std::string coding = headerValue(upperBlock, at);
            info.compressed = coding == "GZIP" || coding == "X-GZIP" || coding == "COMPRESS" ||
                              coding == "X-COMPRESS";
        }
        if (const std::size_t at = findHeader(upperBlock, "TRANSFER-ENCODING:");
            at != std::string::npos) {
            info.chunked = headerValue(upperBlock, at) == "CHUNKED";
        }
        if (const std::size_t at = findHeader(upperBlock, "CONTENT-LENGTH:");
            at != std::string::npos) {
            info.contentLength = decimalLength(headerValue(upperBlock, at));
        }
        if (const std::size_t at = findHeader(upperBlock, "CONTENT-TYPE:");
            at != std::string::npos) {
            const std::string type = headerValue(converted(text.substr(0, end), lower), at);
            if (const std::size_t slash = type.find('/'); slash != std::string::npos) {
                info.contentType = type;
                info.extension = safeExtension(std::string_view(type).substr(slash + 1));
            }
        }
    } else {
        return info;
    }

    if (info.extension == "x-shockwave-flash") {
        info.extension = "swf";
    }
    if (info.isHttp11 && info.compressed) {
        info.extension += ".gz";
    }
    return info;
}

bool decodeChunkedBody(std::span<const std::uint8_t> data, std::size_t bodyStart,
                       const std::function<void(std::span<const std::uint8_t>)>& chunk) {
    const std::size_t end = data.size();
    std::size_t position = bodyStart;
    // The last size read, with the stretch of white space before it: a size line that
    // starts inside that stretch reads the same number, so long runs of blank lines are
    // skipped once, not once per line.
    std::size_t scannedFrom = end;
    ChunkSize size;
    while (position < end) {
        if (position < scannedFrom || position > scannedFrom + size.numberAt) {
            size = readChunkSize(data.subspan(position));
            scannedFrom = position;
        } else {
            size.numberAt -= position - scannedFrom;
            scannedFrom = position;
        }
        // A size line without a number ends the body: there is no size to go on with.
        if (!size.found || size.value == 0) {
            return size.found;
        }
        // The chunk starts after the CR of the size line and the byte after it; chunk
        // extensions after a semicolon are passed over with the rest of the line.
        while (position < end && data[position] != '\r') {
            ++position;
        }
        if (position >= end) {
            return false;
        }
        position += 2;
        if (position >= end || size.value >= end - position) {
            return false;
        }
        chunk(data.subspan(position, static_cast<std::size_t>(size.value)));
        position += static_cast<std::size_t>(size.value) + 2;
    }
    return false;
}

}  // namespace qhs
