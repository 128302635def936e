#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "filemode/HttpResponse.h"

namespace {

constexpr std::size_t BodySize = 100 * 1024 * 1024;

// An HTTP response whose 100 MB body is sent in chunks of `chunkSize` bytes.
std::vector<std::uint8_t> chunkedResponse(std::size_t chunkSize, std::size_t& headerLength) {
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nTransfer-Encoding: "
        "chunked\r\n\r\n";
    headerLength = head.size();
    std::vector<std::uint8_t> data(head.begin(), head.end());
    data.reserve(BodySize + BodySize / chunkSize * 16 + 64);
    std::vector<std::uint8_t> chunk(chunkSize, 'b');
    for (std::size_t sent = 0; sent < BodySize; sent += chunkSize) {
        char line[32];
        const int length = std::snprintf(line, sizeof line, "%zx\r\n", chunkSize);
        data.insert(data.end(), line, line + length);
        data.insert(data.end(), chunk.begin(), chunk.end());
        data.push_back('\r');
        data.push_back('\n');
    }
    const char* last = "0\r\n\r\n";
    data.insert(data.end(), last, last + 5);
    return data;
}

// Decoding into one output buffer, as a file write would take the chunks.
void decodeChunked(benchmark::State& state) {
    std::size_t headerLength = 0;
    const auto data = chunkedResponse(static_cast<std::size_t>(state.range(0)), headerLength);
    std::vector<std::uint8_t> out(BodySize);
    for (auto _ : state) {
        std::size_t at = 0;
        qhs::decodeChunkedBody(data, headerLength, [&](std::span<const std::uint8_t> chunk) {
            std::memcpy(out.data() + at, chunk.data(), chunk.size());
            at += chunk.size();
        });
        if (at != BodySize) {
            state.SkipWithError("body decoded short");
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * BodySize));
}

// Examining the whole response first, as writeStreamFile does.
void examineResponse(benchmark::State& state) {
    std::size_t headerLength = 0;
    const auto data = chunkedResponse(8192, headerLength);
    for (auto _ : state) {
        const qhs::ResponseInfo info = qhs::examineResponse(data);
        benchmark::DoNotOptimize(info.bodyStart);
    }
}

}  // namespace

BENCHMARK(decodeChunked)->Arg(8192)->Arg(1024)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(examineResponse)->Unit(benchmark::kMicrosecond);
