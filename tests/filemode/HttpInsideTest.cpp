#include <gtest/gtest.h>
#include <nghttp2/nghttp2.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "filemode/Http1ResponseSplitter.h"
#include "filemode/Http2Responses.h"
#include "filemode/HttpResponse.h"
#include "filemode/StreamFile.h"
#include "filemode/TcpSegments.h"

namespace qhs {
namespace {

using namespace std::string_literals;
using test::bytesOf;
using test::textOf;

struct Handed {
    std::string message;
    bool ended = false;
    bool operator==(const Handed&) const = default;
};

// Feeds `bytes` in pieces of `piece` bytes (0: whole) to a reader made by `make`, then
// finishes it; what it handed over, in order.
template <typename Reader>
std::vector<Handed> readAll(const std::string& bytes, std::size_t piece, std::uint64_t limit = 0,
                            bool* failed = nullptr) {
    std::vector<Handed> handed;
    Reader reader(
        [&](std::span<const std::uint8_t> message, bool ended) {
            handed.push_back({textOf(message), ended});
        },
        limit);
    const std::vector<std::uint8_t> data = bytesOf(bytes);
    const std::size_t step = piece == 0 ? std::max<std::size_t>(data.size(), 1) : piece;
    for (std::size_t at = 0; at < data.size(); at += step) {
        reader.append(std::span(data).subspan(at, std::min(step, data.size() - at)));
    }
    if constexpr (requires { reader.failed(); }) {
        if (failed != nullptr) {
            *failed = reader.failed();
        }
    }
    reader.finish();
    return handed;
}

ResponseInfo examine(const std::string& message) {
    return examineResponse(bytesOf(message));
}

TEST(Http1ResponseSplitter, CutsAKeepAliveConnectionTheSameInAnyPieces) {
    const std::string withLength =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\ncontent-length: 5\r\n\r\nhello";
    const std::string chunked =
        "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nTRANSFER-ENCODING: chunked\r\n\r\n"
        "4;name=value\r\nGIF8\r\n2\r\n9a\r\n0\r\nX-Checksum: 1\r\n\r\n";
    // A 304 carries no body whatever its Content-Length says.
    const std::string notModified = "HTTP/1.1 304 Not Modified\r\nContent-Length: 999\r\n\r\n";
    const std::string toTheEnd = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\nup to the close\r\n";
    const std::string connection = "HTTP/1.1 100 Continue\r\n\r\n" + withLength + chunked +
                                   notModified + "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" +
                                   toTheEnd;
    const std::vector<Handed> expected = {
        {withLength, true}, {chunked, true}, {notModified, true}, {toTheEnd, true}};
    for (const std::size_t piece : {0, 1, 7}) {
        EXPECT_EQ(readAll<Http1ResponseSplitter>(connection, piece), expected) << piece;
    }
    const ResponseInfo gif = examine(chunked);
    std::string body;
    EXPECT_TRUE(
        decodeChunkedBody(bytesOf(chunked), gif.bodyStart,
                          [&](std::span<const std::uint8_t> chunk) { body += textOf(chunk); }));
    EXPECT_EQ(body, "GIF89a");
    EXPECT_EQ(gif.extension, "gif");

    // The response that only the close ends is handed over by finish(), not before.
    std::vector<std::string> early;
    Http1ResponseSplitter splitter(
        [&](std::span<const std::uint8_t> message, bool) { early.push_back(textOf(message)); }, 0);
    const std::vector<std::uint8_t> data = bytesOf(withLength + toTheEnd);
    splitter.append(data);
    EXPECT_EQ(early.size(), 1u);
    splitter.finish();
    EXPECT_EQ(early.size(), 2u);
}

TEST(Http1ResponseSplitter, BoundsBadAndOversizedResponses) {
    const std::string small = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    const std::string large =
        "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n" + std::string(500, 'x');
    // Over the limit: dropped, and the next response is still found.
    EXPECT_EQ(readAll<Http1ResponseSplitter>(large + small, 7, 100),
              (std::vector<Handed>{{small, true}}));

    // A Content-Length past any range waits for the close; the body was cut short.
    const std::string huge =
        "HTTP/1.1 200 OK\r\nContent-Length: 999999999999999999999999\r\n\r\nab";
    EXPECT_EQ(readAll<Http1ResponseSplitter>(huge, 1), (std::vector<Handed>{{huge, false}}));
    const std::string cut = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab";
    EXPECT_EQ(readAll<Http1ResponseSplitter>(cut, 0), (std::vector<Handed>{{cut, false}}));

    // A chunk size that is no number ends the response there; what follows is no HTTP.
    const std::string goodPart = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n";
    EXPECT_EQ(readAll<Http1ResponseSplitter>(goodPart + "zz\r\nrest", 3),
              (std::vector<Handed>{{goodPart, true}, {"zz\r\nrest", true}}));
    const std::string saturated = goodPart + "FFFFFFFFFFFFFFFFFFFFFFFF\r\nxyz";
    EXPECT_EQ(readAll<Http1ResponseSplitter>(saturated, 5),
              (std::vector<Handed>{{saturated, false}}));

    // Data that is not HTTP is kept whole to the end, within the limit.
    const std::string other = "SSH-2.0-peer\r\n" + std::string(200, 'q');
    EXPECT_EQ(readAll<Http1ResponseSplitter>(other, 9), (std::vector<Handed>{{other, true}}));
    EXPECT_TRUE(readAll<Http1ResponseSplitter>(other, 9, 100).empty());

    // A large body arriving in small pieces costs time in proportion to its size.
    const std::size_t chunkSize = 1 << 16;
    const std::string chunkLine = "10000\r\n" + std::string(chunkSize, 'b') + "\r\n";
    std::string download = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 800; ++i) {
        download += chunkLine;
    }
    download += "0\r\n\r\n";
    const std::vector<Handed> downloaded = readAll<Http1ResponseSplitter>(download, 16384);
    ASSERT_EQ(downloaded.size(), 1u);
    EXPECT_TRUE(downloaded[0].ended);
    EXPECT_EQ(downloaded[0].message.size(), download.size());
}

// HTTP/2 frames as a server sends them.
std::string frame(std::uint8_t type, std::uint8_t flags, std::uint32_t stream,
                  const std::string& payload) {
    std::string bytes(9, '\0');
    bytes[0] = static_cast<char>(payload.size() >> 16);
    bytes[1] = static_cast<char>(payload.size() >> 8);
    bytes[2] = static_cast<char>(payload.size());
    bytes[3] = static_cast<char>(type);
    bytes[4] = static_cast<char>(flags);
    for (int i = 0; i < 4; ++i) {
        bytes[5 + i] = static_cast<char>(stream >> (24 - 8 * i));
    }
    return bytes + payload;
}

constexpr std::uint8_t Data = 0, Headers = 1, RstStream = 3, Settings = 4, PushPromise = 5,
                       Ping = 6, Continuation = 9;
constexpr std::uint8_t EndStream = 0x1, EndHeaders = 0x4, Padded = 0x8, Priority = 0x20;

using Fields = std::vector<std::pair<std::string, std::string>>;

// The server's header compression, its table as large as the client allows.
class Encoder {
  public:
    explicit Encoder(std::size_t tableSize) {
        nghttp2_hd_deflate_new(&deflater_, tableSize);
        nghttp2_hd_deflate_change_table_size(deflater_, tableSize);
    }
    ~Encoder() { nghttp2_hd_deflate_del(deflater_); }
    std::string block(const Fields& fields) {
        std::vector<nghttp2_nv> list;
        for (const auto& [name, value] : fields) {
            list.push_back({reinterpret_cast<std::uint8_t*>(const_cast<char*>(name.data())),
                            reinterpret_cast<std::uint8_t*>(const_cast<char*>(value.data())),
                            name.size(), value.size(), NGHTTP2_NV_FLAG_NONE});
        }
        std::string out(nghttp2_hd_deflate_bound(deflater_, list.data(), list.size()), '\0');
        const ssize_t length =
            nghttp2_hd_deflate_hd(deflater_, reinterpret_cast<std::uint8_t*>(out.data()),
                                  out.size(), list.data(), list.size());
        out.resize(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
        return out;
    }

  private:
    nghttp2_hd_deflater* deflater_ = nullptr;
};

TEST(Http2ResponseReader, HandsOverEachWantedStreamAsAnHttp11Message) {
    Encoder encoder(65536);
    const std::string html = "\x1f\x8b gzip";
    const std::string htmlHeaders = encoder.block({{":status", "200"},
                                                   {"content-type", "text/html; charset=utf-8"},
                                                   {"content-encoding", "gzip"},
                                                   {"x-shared", "token-123"}});
    const std::string imageHeaders = encoder.block(
        {{":status", "206"}, {"content-type", "image/png"}, {"x-note", "a\r\nb\0c"s}});
    // The promise's fields enter the table; the pushed response refers to them.
    const std::string promise =
        encoder.block({{":method", "GET"}, {":path", "/style.css"}, {"x-push", "style-token"}});
    const std::string pushedHeaders = encoder.block(
        {{":status", "200"}, {"content-type", "text/css"}, {"x-push", "style-token"}});
    const std::string missing = encoder.block({{":status", "404"}, {"x-shared", "token-123"}});
    const std::string trailers = encoder.block({{"x-checksum", "77"}});
    const std::string cutHeaders = encoder.block({{":status", "200"}});
    const std::string openHeaders = encoder.block({{":status", "200"}, {"x-shared", "token-123"}});

    const std::string connection =
        frame(Settings, 0, 0, std::string(6, '\0')) +
        frame(Headers, EndHeaders | Padded | Priority, 1,
              std::string(1, '\3') + std::string(5, '\0') + htmlHeaders + "pad") +
        frame(Headers, 0, 3, imageHeaders.substr(0, 4)) +
        frame(Continuation, EndHeaders, 3, imageHeaders.substr(4)) +
        frame(PushPromise, EndHeaders, 1, std::string("\0\0\0\2", 4) + promise) +
        frame(Data, Padded, 1, std::string(1, '\2') + html.substr(0, 3) + "xx") +
        frame(Data, 0, 3, "PNG") + frame(Headers, EndHeaders, 5, missing) +
        frame(Ping, 0, 0, std::string(8, '\0')) + frame(Data, EndStream, 1, html.substr(3)) +
        frame(Headers, EndHeaders, 2, pushedHeaders) + frame(Data, EndStream, 5, "not found") +
        frame(Headers, EndHeaders | EndStream, 3, trailers) + frame(Data, EndStream, 2, "p{}") +
        frame(Headers, EndHeaders, 7, cutHeaders) + frame(Data, 0, 7, "half") +
        frame(RstStream, 0, 7, std::string(4, '\0')) + frame(Headers, EndHeaders, 9, openHeaders) +
        frame(Data, 0, 9, "open");
    const std::vector<Handed> expected = {
        {"HTTP/1.1 200 OK\r\ncontent-type: text/html; charset=utf-8\r\ncontent-encoding: gzip\r\n"
         "x-shared: token-123\r\n\r\n" +
             html,
         true},
        {"HTTP/1.1 206 Partial Content\r\ncontent-type: image/png\r\nx-note: a  b c\r\n\r\nPNG",
         true},
        {"HTTP/1.1 200 OK\r\ncontent-type: text/css\r\nx-push: style-token\r\n\r\np{}", true},
        {"HTTP/1.1 200 OK\r\n\r\nhalf", false},
        {"HTTP/1.1 200 OK\r\nx-shared: token-123\r\n\r\nopen", false},
    };
    for (const std::size_t piece : {0, 1, 7}) {
        bool failed = true;
        EXPECT_EQ(readAll<Http2ResponseReader>(connection, piece, 0, &failed), expected) << piece;
        EXPECT_FALSE(failed);
    }
    EXPECT_EQ(examine(expected[0].message).extension, "html.gz");
    EXPECT_EQ(examine(expected[1].message).extension, "png");
    EXPECT_EQ(examine(expected[2].message).extension, "css");
}

TEST(Http2ResponseReader, StopsForGoodAtWhatCannotBeRead) {
    Encoder encoder(4096);
    const std::string ok = encoder.block({{":status", "200"}});
    const std::string afterwards =
        frame(Headers, EndHeaders, 11, ok) + frame(Data, EndStream, 11, "late");
    const std::string tooLong(Http2ResponseReader::HeaderBlockLimit / 2 + 1, '\0');
    // A 4000-byte value enters the table, then 300 one-byte references repeat it.
    const std::string bigValue = "\x40\x01x\x7f\xa1\x1e" + std::string(4000, 'v');
    const std::string bomb = bigValue + std::string(300, '\xbe');
    const std::vector<std::string> broken = {
        frame(Data, Padded, 1, "\x09short"),
        frame(Headers, EndHeaders, 0, ok),
        frame(Headers, 0, 1, tooLong) + frame(Continuation, EndHeaders, 1, tooLong),
        frame(Headers, EndHeaders, 1, "\xff\xff\xff\x7f"),
        frame(Headers, EndHeaders, 1, bomb),
        frame(Headers, 0, 1, ok) + frame(Data, 0, 1, "x"),
        frame(Continuation, EndHeaders, 1, ok),
    };
    for (const std::string& bytes : broken) {
        bool failed = false;
        EXPECT_TRUE(readAll<Http2ResponseReader>(bytes + afterwards, 5, 0, &failed).empty());
        EXPECT_TRUE(failed);
    }

    // A stream whose body outgrows the limit is dropped; the others are not.
    Encoder second(4096);
    const std::string first = second.block({{":status", "200"}});
    const std::string again = second.block({{":status", "200"}});
    const std::vector<Handed> handed = readAll<Http2ResponseReader>(
        frame(Headers, EndHeaders, 1, first) + frame(Headers, EndHeaders, 3, again) +
            frame(Data, 0, 1, std::string(60, 'a')) + frame(Data, 0, 3, "small") +
            frame(Data, EndStream, 1, std::string(60, 'a')) + frame(Data, EndStream, 3, ""),
        0, 100);
    EXPECT_EQ(handed, (std::vector<Handed>{{"HTTP/1.1 200 OK\r\n\r\nsmall", true}}));
}

}  // namespace
}  // namespace qhs
