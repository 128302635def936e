// Any bytes as what a server sent on an HTTP/2 connection, taken whole and in pieces whose
// sizes the first four bytes pick: the same responses come out, in the same order, with the
// same ends, and the reader fails at the same point; every response is an HTTP/1.1 200 or 206
// message whose body stays within the limit; and what the reader holds stays bounded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "filemode/Http2Responses.h"
#include "filemode/HttpResponse.h"

using namespace qhs;

namespace {

constexpr std::uint64_t BodyLimit = 4096;
// The most one stream's message may hold apart from its body: a status line and the fields
// of one header block.
constexpr std::size_t HeaderTextLimit = (1 << 20) + 64;

struct Response {
    std::vector<std::uint8_t> message;
    bool ended = false;
    bool operator==(const Response&) const = default;
};

struct Outcome {
    std::vector<Response> responses;
    bool failed = false;
};

Outcome readInPieces(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> sizes) {
    Outcome outcome;
    Http2ResponseReader reader(
        [&](std::span<const std::uint8_t> message, bool ended) {
            const std::string_view text(reinterpret_cast<const char*>(message.data()),
                                        message.size());
            QHS_FUZZ_REQUIRE(text.starts_with("HTTP/1.1 20"));
            const ResponseInfo info = examineResponse(message);
            QHS_FUZZ_REQUIRE(info.isHttp11);
            QHS_FUZZ_REQUIRE(message.size() - info.bodyStart <= BodyLimit);
            outcome.responses.push_back({{message.begin(), message.end()}, ended});
        },
        BodyLimit);
    std::size_t at = 0;
    for (std::size_t turn = 0; at < bytes.size(); ++turn) {
        const std::size_t piece =
            sizes.empty() ? bytes.size() : sizes[turn % sizes.size()] % 128 + 1;
        const std::size_t taken = std::min(piece, bytes.size() - at);
        reader.append(bytes.subspan(at, taken));
        at += taken;
        // Beyond the bytes given, only the open streams' decoded headers, each within a
        // block's bound, and their bodies, each within the limit, may be held.
        const std::size_t streams = std::min(at / Http2ResponseReader::FrameHeaderLength + 1,
                                             Http2ResponseReader::OpenStreamLimit);
        QHS_FUZZ_REQUIRE(reader.heldBytes() <= at + streams * (HeaderTextLimit + BodyLimit));
    }
    outcome.failed = reader.failed();
    reader.finish();
    QHS_FUZZ_REQUIRE(reader.heldBytes() == 0);
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t SizeBytes = 4;
    if (size < SizeBytes) {
        return 0;
    }
    // A copy of its own size, so a read past the bytes given is caught.
    const auto copy = std::make_unique<std::uint8_t[]>(size);
    std::memcpy(copy.get(), data, size);
    const std::span<const std::uint8_t> sizes(copy.get(), SizeBytes);
    const std::span<const std::uint8_t> bytes(copy.get() + SizeBytes, size - SizeBytes);

    const Outcome whole = readInPieces(bytes, {});
    const Outcome pieces = readInPieces(bytes, sizes);
    QHS_FUZZ_REQUIRE(whole.responses == pieces.responses);
    QHS_FUZZ_REQUIRE(whole.failed == pieces.failed);
    return 0;
}
