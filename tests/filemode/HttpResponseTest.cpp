#include <gtest/gtest.h>

#include <string>

#include "filemode/HttpResponse.h"
#include "filemode/TcpSegments.h"

namespace qhs {
namespace {

using test::bytesOf;

ResponseInfo examine(const std::string& text) {
    const std::vector<std::uint8_t> bytes = bytesOf(text);
    return examineResponse(bytes);
}

std::string decodeChunked(const std::string& text, std::size_t bodyStart = 0) {
    const std::vector<std::uint8_t> bytes = bytesOf(text);
    std::string decoded;
    decodeChunkedBody(bytes, bodyStart, [&](std::span<const std::uint8_t> chunk) {
        decoded.append(chunk.begin(), chunk.end());
    });
    return decoded;
}

std::string http11(const std::string& headers, const std::string& body = "BODY") {
    return "HTTP/1.1 200 OK\r\n" + headers + "\r\n" + body;
}

TEST(HttpStatusLine, AcceptedFormsAndWhereTheirBodiesStart) {
    const ResponseInfo lowerCase = examine("http/1.1 200 ok\r\nServer: x\r\n\r\nbody");
    EXPECT_TRUE(lowerCase.isHttp11);
    EXPECT_EQ(lowerCase.bodyStart, 30u);
    EXPECT_TRUE(examine("HTTP/1.1 206 Partial Content\r\n\r\nx").isHttp11);
    const ResponseInfo bareLf = examine("Http/1.0 200 OK\nContent-Type: image/gif\n\nGIF89a");
    EXPECT_TRUE(bareLf.isHttp);
    EXPECT_FALSE(bareLf.isHttp11);
    EXPECT_EQ(bareLf.bodyStart, 41u);
    EXPECT_EQ(bareLf.extension, "txt") << "HTTP/1.0 headers are not examined";
    for (const char* other :
         {"HTTP/1.1 304 Not Modified\r\n\r\n", "HTTP/1.0 206 Partial\n\nx", "HTTP/1.1 20", ""}) {
        EXPECT_FALSE(examine(other).isHttp) << other;
    }
}

TEST(HttpResponseExtension, ComesFromTheContentTypeAfterItsSlash) {
    const struct {
        const char* headers;
        const char* extension;
    } cases[] = {
        {"Content-Type: image/gif\r\n", "gif"},
        {"Content-Type: image/JPEG\r\n", "jpeg"},
        {"Content-Type: application/x-shockwave-flash\r\n", "swf"},
        {"Content-Type: text/html; charset=iso-8859-1\r\n", "html"},
        {"content-type:\timage/svg+xml\r\n", "svg+xml"},
        {"Server: x\r\n", "txt"},
        {"Content-Type: plain\r\n", "txt"},
        {"Content-Type: text/html\r\nContent-Encoding: gzip\r\n", "html.gz"},
        {"Content-Type: text/html\r\nContent-Encoding: X-Compress\r\n", "html.gz"},
        {"Content-Type: text/html\r\nContent-Encoding: deflate\r\n", "html"},
        {"Content-Encoding: gzip\r\n", "txt.gz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(examine(http11(c.headers)).extension, c.extension) << c.headers;
    }
}

TEST(HttpResponseExtension, HeadersAreSearchedFromCharacter17Only) {
    // With a 12-character status line the first header starts at 14 and is not seen.
    const ResponseInfo info = examine("HTTP/1.1 200\r\nContent-Type: image/gif\r\n\r\nGIF");
    EXPECT_TRUE(info.isHttp);
    EXPECT_EQ(info.extension, "txt");
    EXPECT_EQ(examine("HTTP/1.1 200\r\nX: y\r\nContent-Type: image/gif\r\n\r\nGIF").extension,
              "gif");
}

TEST(HttpResponseExtension, ChunkedAndCompressedNeedTheExactValue) {
    EXPECT_TRUE(examine(http11("Transfer-Encoding: Chunked\r\n")).chunked);
    EXPECT_FALSE(examine(http11("Transfer-Encoding: gzip, chunked\r\n")).chunked);
    EXPECT_TRUE(examine(http11("Content-Encoding: x-gzip\r\n")).compressed);
    EXPECT_FALSE(examine(http11("Content-Encoding: gzip \r\n")).compressed)
        << "a trailing blank stays in the value";
    // Only HTTP/1.1 gets ".gz"; HTTP/1.0 headers are never read.
    EXPECT_EQ(examine("HTTP/1.0 200 OK\nContent-Encoding: gzip\n\nx").extension, "txt");
}

TEST(HttpResponseExtension, NetworkTextNeverMakesAPathPart) {
    const struct {
        const char* contentType;
        const char* extension;
    } cases[] = {
        {"text/../../x", "x"},    {"a/b/c", "bc"},
        {"a/..", "txt"},          {"a/.hidden..name.", "hidden.name"},
        {"a/x\x01y\x7Fz", "xyz"}, {"a/\xE9t\xE9", "t"},
        {"a/b\\..\\c", "b.c"},    {"a/", "txt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(examine(http11(std::string("Content-Type: ") + c.contentType + "\r\n")).extension,
                  c.extension)
            << c.contentType;
    }
    const std::string longType = "a/" + std::string(300, 'q');
    const std::string extension = examine(http11("Content-Type: " + longType + "\r\n")).extension;
    EXPECT_EQ(extension, std::string(97, 'q')) << "the value stops at 99 characters";
}

TEST(HeaderValue, StopsAtLineEndSemicolonOrLimit) {
    EXPECT_EQ(headerValue("X: a b ;c", 0), "a b ");
    EXPECT_EQ(headerValue("X:\t\t v\r\nY: w", 0), "v");
    // Without a blank after the colon the value starts after the next blank, even on a
    // later line.
    EXPECT_EQ(headerValue("X:v\r\nY: w", 0), "w");
    EXPECT_EQ(headerValue("X:v", 0), "");
    EXPECT_EQ(headerValue("X: " + std::string(200, 'z'), 0), std::string(99, 'z'));
    EXPECT_EQ(headerValue("X: v", 50), "");
}

TEST(ChunkedBody, DecodesSizesWithExtensionsAndStopsAtZero) {
    EXPECT_EQ(decodeChunked("4\r\nabcd\r\n3\r\nefg\r\n0\r\n\r\n"), "abcdefg");
    const std::string chunk26 = "abcdefghijklmnopqrstuvwxyz";
    EXPECT_EQ(decodeChunked("1A;name=value\r\n" + chunk26 + "\r\n0\r\n\r\n"), chunk26);
    EXPECT_EQ(decodeChunked("HEAD 1a\r\n" + chunk26 + "\r\n0\r\n", 5), chunk26);
    EXPECT_EQ(decodeChunked("0x3\r\nabc\r\n0\r\n"), "abc");
    EXPECT_EQ(decodeChunked("  2\r\nab\r\n0\r\nTrailer: 1\r\n\r\n"), "ab");
}

TEST(ChunkedBody, EndsWhereTheDataCannotBeTrusted) {
    // A chunk that reaches the end of the data is not written.
    EXPECT_EQ(decodeChunked("3\r\nabc\r\n4\r\nde"), "abc");
    EXPECT_EQ(decodeChunked("3\r\nabc"), "");
    // Sizes far past the data, and size lines without a number, end the body.
    EXPECT_EQ(decodeChunked("2\r\nab\r\nFFFFFFFF\r\nxyz\r\n0\r\n"), "ab");
    EXPECT_EQ(decodeChunked("2\r\nab\r\nFFFFFFFFFFFFFFFFFFFF\r\nxyz\r\n"), "ab");
    EXPECT_EQ(decodeChunked("2\r\nab\r\nzz\r\nxyz\r\n0\r\n"), "ab");
    EXPECT_EQ(decodeChunked("2\r\nab\r\n-1\r\nxyz\r\n"), "ab");
    EXPECT_EQ(decodeChunked("5"), "");
    EXPECT_EQ(decodeChunked("5\r"), "");
    EXPECT_EQ(decodeChunked("abc", 10), "");
}

}  // namespace
}  // namespace qhs
