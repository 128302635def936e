#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace qhs {

// Cuts the bytes a server sent on one persistent connection into its HTTP/1.x responses.
//
// A response ends where its framing says: a 1xx one (dropped, never handed over), a 204 and
// a 304 at the end of the header block; a chunked one after the last chunk (size 0) and the
// empty line that ends its trailer section; one with a Content-Length that many bytes after
// its header block; any other at the end of the connection. Bytes that do not start with
// "HTTP/" are not HTTP: they are kept to the connection's end and handed over whole. The
// bytes are read once, as they arrive, so a body of any size costs time in proportion to it.
class Http1ResponseSplitter {
  public:
    // `message` is one whole response as sent (status line, headers, body with chunk lines);
    // `ended` is false when the connection ended before the response did.
    using ResponseSink = std::function<void(std::span<const std::uint8_t> message, bool ended)>;
    // `responseLimit` (0: none) bounds what one response may hold: a larger one is dropped,
    // its bytes not kept (skip to its end and go on with the next response).
    Http1ResponseSplitter(ResponseSink sink, std::uint64_t responseLimit);
    void append(std::span<const std::uint8_t> bytes);  // any pieces, in order
    void finish();  // the connection ended: what is still open is handed over
    // The bytes held now: the response being read and the header line being examined.
    std::size_t heldBytes() const { return message_.size() + line_.size(); }

  private:
    enum class State {
        Start,         // before a response: waiting for "HTTP/"
        Header,        // in the status line or a header line
        Length,        // in a body of known length
        ChunkSize,     // in a chunk size line
        ChunkData,     // in a chunk
        ChunkDataEnd,  // in the line end after a chunk
        Trailer,       // after the last chunk, in its trailer section
        UntilClose,    // in a body that the end of the connection ends
        NotHttp,       // in data that is not HTTP, kept to the connection's end
        Finished,
    };

    std::size_t readStart(std::span<const std::uint8_t> bytes);
    std::size_t readHeader(std::span<const std::uint8_t> bytes);
    std::size_t readChunkSize(std::span<const std::uint8_t> bytes);
    std::size_t readTrailer(std::span<const std::uint8_t> bytes);
    std::size_t readCounted(std::span<const std::uint8_t> bytes, State next);
    void headerLineEnded();
    void headerBlockEnded();
    void keep(std::span<const std::uint8_t> bytes);
    void endResponse(bool ended);

    ResponseSink sink_;
    std::uint64_t responseLimit_;
    State state_ = State::Start;
    std::vector<std::uint8_t> message_;
    bool dropped_ = false;           // the response outgrew the limit: its bytes are not kept
    bool anyResponse_ = false;       // a response has ended on this connection
    std::size_t prefixMatched_ = 0;  // bytes of "HTTP/" seen at the start of a response
    // The current header line, as much of it as is needed to read it.
    std::string line_;
    bool statusLineRead_ = false;
    int status_ = 0;
    bool chunked_ = false;
    bool transferEncoding_ = false;
    bool lengthKnown_ = false;
    std::uint64_t remaining_ = 0;  // body or chunk bytes still to come
    bool sizeDigits_ = false;      // the chunk size line has its number
    bool sizeEnded_ = false;       // ... and the number has ended
    std::uint64_t chunkSize_ = 0;
    bool trailerLineEmpty_ = true;
};

}  // namespace qhs
