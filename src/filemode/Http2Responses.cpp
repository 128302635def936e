#include "filemode/Http2Responses.h"

#include <nghttp2/nghttp2.h>

#include <algorithm>
#include <optional>
#include <string_view>

namespace qhs {

namespace {

enum FrameType : std::uint8_t {
    Data = 0x0,
    Headers = 0x1,
    RstStream = 0x3,
    PushPromise = 0x5,
    Continuation = 0x9,
};

constexpr std::uint8_t EndStream = 0x1;
constexpr std::uint8_t EndHeaders = 0x4;
constexpr std::uint8_t Padded = 0x8;
constexpr std::uint8_t Priority = 0x20;
constexpr std::size_t PriorityLength = 5;
constexpr std::size_t PromisedIdLength = 4;

// The dynamic table the server's encoder may grow to. Only the client's SETTINGS bound it,
// and those travel the other way: browsers allow 64 KiB, so the table may be larger than the
// 4 KiB default, and a size update past what the decoder allows would fail the connection.
constexpr std::size_t DecoderTableLimit = 1 << 20;
// What one header block may expand to: indexed fields repeat table entries, so a small
// block can name megabytes of header text.
constexpr std::size_t DecodedHeaderLimit = 1 << 20;
// What a frame buffer handed back may keep allocated.
constexpr std::size_t KeptCapacity = 1 << 20;

std::uint32_t frameLength(std::span<const std::uint8_t> header) {
    return static_cast<std::uint32_t>(header[0]) << 16 |
           static_cast<std::uint32_t>(header[1]) << 8 | header[2];
}

std::uint32_t streamIdentifier(std::span<const std::uint8_t> bytes) {
    return (static_cast<std::uint32_t>(bytes[0]) << 24 |
            static_cast<std::uint32_t>(bytes[1]) << 16 | static_cast<std::uint32_t>(bytes[2]) << 8 |
            bytes[3]) &
           0x7FFFFFFFu;
}

// The payload without its padding (PADDED: a length byte first, that many bytes last);
// nothing when the padding does not fit the frame.
std::optional<std::span<const std::uint8_t>> withoutPadding(std::span<const std::uint8_t> payload,
                                                            std::uint8_t flags) {
    if ((flags & Padded) == 0) {
        return payload;
    }
    if (payload.empty() || payload[0] > payload.size() - 1) {
        return std::nullopt;
    }
    return payload.subspan(1, payload.size() - 1 - payload[0]);
}

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

void appendText(std::vector<std::uint8_t>& message, std::string_view text) {
    message.insert(message.end(), text.begin(), text.end());
}

// A header name or value in a message: CR, LF and NUL become spaces, so a field can neither
// end the header block early nor cut a file name short.
void appendFieldText(std::vector<std::uint8_t>& message, std::span<const std::uint8_t> text) {
    for (const std::uint8_t c : text) {
        message.push_back(c == '\r' || c == '\n' || c == '\0' ? ' ' : c);
    }
}

}  // namespace

Http2ResponseReader::Http2ResponseReader(ResponseSink sink, std::uint64_t responseLimit)
    : sink_(std::move(sink)), responseLimit_(responseLimit) {
    if (nghttp2_hd_inflate_new(&inflater_) != 0 ||
        nghttp2_hd_inflate_change_table_size(inflater_, DecoderTableLimit) != 0) {
        fail();
    }
}

Http2ResponseReader::~Http2ResponseReader() {
    if (inflater_ != nullptr) {
        nghttp2_hd_inflate_del(inflater_);
    }
}

std::size_t Http2ResponseReader::heldBytes() const {
    std::size_t held = frame_.size() + block_.size();
    for (const auto& [id, stream] : streams_) {
        held += stream.message.size();
    }
    return held;
}

void Http2ResponseReader::append(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty() && !failed_ && !finished_) {
        // A whole frame in the bytes given is read where it lies, without a copy.
        if (frame_.empty() && bytes.size() >= FrameHeaderLength) {
            const std::size_t length = FrameHeaderLength + frameLength(bytes);
            if (bytes.size() >= length) {
                readFrame(bytes.first(length));
                bytes = bytes.subspan(length);
                continue;
            }
        }
        const std::size_t wanted = frame_.size() < FrameHeaderLength
                                       ? FrameHeaderLength
                                       : FrameHeaderLength + frameLength(frame_);
        const std::size_t taken = std::min(wanted - frame_.size(), bytes.size());
        frame_.insert(frame_.end(), bytes.begin(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(taken));
        bytes = bytes.subspan(taken);
        if (frame_.size() >= FrameHeaderLength &&
            frame_.size() == FrameHeaderLength + frameLength(frame_)) {
            readFrame(frame_);
            if (frame_.capacity() > KeptCapacity) {
                frame_ = {};
            } else {
                frame_.clear();
            }
        }
    }
}

void Http2ResponseReader::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    for (const auto& [id, stream] : streams_) {
        if (stream.wanted && !stream.dropped) {
            sink_(stream.message, false);
        }
    }
    streams_.clear();
    frame_ = {};
    block_ = {};
}

void Http2ResponseReader::readFrame(std::span<const std::uint8_t> frame) {
    const std::uint8_t type = frame[3];
    const std::uint8_t flags = frame[4];
    const std::uint32_t streamId = streamIdentifier(frame.subspan(5, 4));
    const std::span<const std::uint8_t> payload = frame.subspan(FrameHeaderLength);
    // Nothing may come between a header block's frames (RFC 9113 §6.10).
    if (blockOpen_) {
        if (type != Continuation || streamId != blockStream_) {
            fail();
            return;
        }
        if (payload.size() > HeaderBlockLimit - block_.size()) {
            fail();
            return;
        }
        block_.insert(block_.end(), payload.begin(), payload.end());
        if ((flags & EndHeaders) != 0) {
            headerBlockEnded();
        }
        return;
    }
    switch (type) {
        case Data:
            readData(streamId, flags, payload);
            break;
        case Headers:
            readHeaders(streamId, flags, payload, false);
            break;
        case PushPromise:
            readHeaders(streamId, flags, payload, true);
            break;
        case Continuation:
            // A fragment of no header block: the decoder's table can no longer be trusted.
            fail();
            break;
        case RstStream:
            endStream(streamId, false);
            break;
        default:
            // SETTINGS, PING, GOAWAY, WINDOW_UPDATE, PRIORITY and unknown types say nothing
            // about the responses.
            break;
    }
}

void Http2ResponseReader::readData(std::uint32_t streamId, std::uint8_t flags,
                                   std::span<const std::uint8_t> payload) {
    const std::optional<std::span<const std::uint8_t>> data = withoutPadding(payload, flags);
    if (!data) {
        fail();
        return;
    }
    const auto found = streams_.find(streamId);
    if (found == streams_.end()) {
        return;
    }
    Stream& stream = found->second;
    if (stream.answered && stream.wanted && !stream.dropped) {
        if (responseLimit_ != 0 && data->size() > responseLimit_ - stream.bodySize) {
            stream.dropped = true;
            stream.message = {};
        } else {
            stream.bodySize += data->size();
            stream.message.insert(stream.message.end(), data->begin(), data->end());
        }
    }
    if ((flags & EndStream) != 0) {
        endStream(streamId, true);
    }
}

void Http2ResponseReader::readHeaders(std::uint32_t streamId, std::uint8_t flags,
                                      std::span<const std::uint8_t> payload, bool promise) {
    if (streamId == 0) {
        fail();
        return;
    }
    std::optional<std::span<const std::uint8_t>> fragment = withoutPadding(payload, flags);
    const std::size_t skipped = promise                   ? PromisedIdLength
                                : (flags & Priority) != 0 ? PriorityLength
                                                          : 0;
    if (!fragment || fragment->size() < skipped) {
        fail();
        return;
    }
    block_.assign(fragment->begin() + static_cast<std::ptrdiff_t>(skipped), fragment->end());
    blockOpen_ = true;
    blockIsPromise_ = promise;
    blockEndsStream_ = !promise && (flags & EndStream) != 0;
    blockStream_ = streamId;
    if ((flags & EndHeaders) != 0) {
        headerBlockEnded();
    }
}

void Http2ResponseReader::headerBlockEnded() {
    blockOpen_ = false;
    const std::uint32_t streamId = blockStream_;
    std::vector<std::uint8_t> block = std::move(block_);
    block_ = {};
    // Every block is decoded, wanted or not, to keep the decoder's table in step with the
    // server's encoder.
    int status = 0;
    std::vector<std::uint8_t> fields;
    const bool read = inflate(block, [&](std::span<const std::uint8_t> name,
                                         std::span<const std::uint8_t> value) {
        const std::string_view nameText = asText(name);
        if (nameText == ":status") {
            if (value.size() == 3 && std::all_of(value.begin(), value.end(), [](std::uint8_t c) {
                    return c >= '0' && c <= '9';
                })) {
                status = (value[0] - '0') * 100 + (value[1] - '0') * 10 + (value[2] - '0');
            }
            return;
        }
        // Pseudo-headers are not header fields; an HTTP/2 body is never chunk-coded, so a
        // Transfer-Encoding would have the body decoded as chunks it does not have.
        if (nameText.starts_with(':') || nameText == "transfer-encoding") {
            return;
        }
        appendFieldText(fields, name);
        appendText(fields, ": ");
        appendFieldText(fields, value);
        appendText(fields, "\r\n");
    });
    if (!read) {
        fail();
        return;
    }
    if (blockIsPromise_) {
        return;
    }
    Stream* stream = nullptr;
    if (const auto found = streams_.find(streamId); found != streams_.end()) {
        stream = &found->second;
    }
    // An interim (1xx) response comes before the real one; a block after the response is
    // its trailer section.
    const bool interim = status >= 100 && status <= 199;
    if (!interim && (stream == nullptr || !stream->answered)) {
        if (stream == nullptr) {
            stream = openStream(streamId);
        }
        stream->answered = true;
        stream->wanted = status == 200 || status == 206;
        if (stream->wanted) {
            appendText(stream->message,
                       status == 200 ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 206 Partial Content\r\n");
            stream->message.insert(stream->message.end(), fields.begin(), fields.end());
            appendText(stream->message, "\r\n");
        }
    }
    if (blockEndsStream_) {
        endStream(streamId, true);
    }
}

bool Http2ResponseReader::inflate(std::span<const std::uint8_t> block,
                                  const std::function<void(std::span<const std::uint8_t>,
                                                           std::span<const std::uint8_t>)>& field) {
    if (inflater_ == nullptr) {
        return false;
    }
    std::size_t decoded = 0;
    for (;;) {
        nghttp2_nv nv{};
        int flags = 0;
        const ssize_t used =
            nghttp2_hd_inflate_hd2(inflater_, &nv, &flags, block.data(), block.size(), 1);
        if (used < 0) {
            return false;
        }
        block = block.subspan(static_cast<std::size_t>(used));
        if ((flags & NGHTTP2_HD_INFLATE_EMIT) != 0) {
            // A field costs its name, its value and the ": " and CR LF around them.
            decoded += nv.namelen + nv.valuelen + 4;
            if (decoded > DecodedHeaderLimit) {
                return false;
            }
            field({nv.name, nv.namelen}, {nv.value, nv.valuelen});
        }
        if ((flags & NGHTTP2_HD_INFLATE_FINAL) != 0) {
            nghttp2_hd_inflate_end_headers(inflater_);
            return true;
        }
        // With the whole block given, the decoder either emits a field or reaches its end.
        if ((flags & NGHTTP2_HD_INFLATE_EMIT) == 0 && used == 0) {
            return false;
        }
    }
}

Http2ResponseReader::Stream* Http2ResponseReader::openStream(std::uint32_t streamId) {
    // A stream the client cancelled is never ended by the server (the client's RST_STREAM
    // travels the other way): past the limit the oldest open stream is handed over as cut
    // short, so a long connection keeps its memory bounded and loses no response.
    if (streams_.size() >= OpenStreamLimit) {
        endStream(streams_.begin()->first, false);
    }
    return &streams_[streamId];
}

void Http2ResponseReader::endStream(std::uint32_t streamId, bool ended) {
    const auto found = streams_.find(streamId);
    if (found == streams_.end()) {
        return;
    }
    // Taken out first: the sink may take its time, the map stays consistent.
    const Stream stream = std::move(found->second);
    streams_.erase(found);
    if (stream.wanted && !stream.dropped) {
        sink_(stream.message, ended);
    }
}

void Http2ResponseReader::fail() {
    failed_ = true;
    blockOpen_ = false;
    block_ = {};
}

}  // namespace qhs
