#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

struct nghttp2_hd_inflater;

namespace qhs {

// Reads the HTTP/2 frames a server sent on one connection (RFC 9113) and hands over each
// stream's response whose :status is 200 or 206 as an HTTP/1.1 message:
// "HTTP/1.1 200 OK\r\n" (206: "HTTP/1.1 206 Partial Content"), then each regular header
// field as "name: value\r\n" (pseudo-headers left out; CR, LF and NUL in a value become
// spaces), "\r\n", then the body (DATA payloads without padding), so the same
// examineResponse names and types it as it would an HTTP/1.1 response.
//
// It holds at most one frame, one header block (up to HeaderBlockLimit) and the open
// streams' messages; at most OpenStreamLimit streams are open at once.
class Http2ResponseReader {
  public:
    using ResponseSink = std::function<void(std::span<const std::uint8_t> message, bool ended)>;
    static constexpr std::size_t FrameHeaderLength = 9;
    static constexpr std::size_t HeaderBlockLimit = 1 << 20;
    static constexpr std::size_t OpenStreamLimit = 1024;

    // `responseLimit` (0: none) bounds one stream's body: a stream beyond it is dropped.
    Http2ResponseReader(ResponseSink sink, std::uint64_t responseLimit);
    ~Http2ResponseReader();
    Http2ResponseReader(const Http2ResponseReader&) = delete;
    Http2ResponseReader& operator=(const Http2ResponseReader&) = delete;

    void append(std::span<const std::uint8_t> bytes);  // server-to-client bytes, any pieces
    void finish();  // streams still open are handed over with ended = false
    // A frame or header block that could not be read: nothing more is read.
    bool failed() const { return failed_; }
    // The bytes held now: the frame being gathered, the open header block and the messages
    // of the open streams.
    std::size_t heldBytes() const;

  private:
    struct Stream {
        bool answered = false;  // its response header block has arrived
        bool wanted = false;    // ... with a 200 or 206 status
        bool dropped = false;   // its body outgrew the limit
        std::uint64_t bodySize = 0;
        std::vector<std::uint8_t> message;
    };

    void readFrame(std::span<const std::uint8_t> frame);
    void readData(std::uint32_t streamId, std::uint8_t flags,
                  std::span<const std::uint8_t> payload);
    void readHeaders(std::uint32_t streamId, std::uint8_t flags,
                     std::span<const std::uint8_t> payload, bool promise);
    void headerBlockEnded();
    bool inflate(std::span<const std::uint8_t> block,
                 const std::function<void(std::span<const std::uint8_t> name,
                                          std::span<const std::uint8_t> value)>& field);
    Stream* openStream(std::uint32_t streamId);
    void endStream(std::uint32_t streamId, bool ended);
    void fail();

    ResponseSink sink_;
    std::uint64_t responseLimit_;
    nghttp2_hd_inflater* inflater_ = nullptr;
    bool failed_ = false;
    bool finished_ = false;
    std::vector<std::uint8_t> frame_;
    // A header block that CONTINUATION frames still add to.
    bool blockOpen_ = false;
    bool blockIsPromise_ = false;
    bool blockEndsStream_ = false;
    std::uint32_t blockStream_ = 0;
    std::vector<std::uint8_t> block_;
    std::map<std::uint32_t, Stream> streams_;
};

}  // namespace qhs
