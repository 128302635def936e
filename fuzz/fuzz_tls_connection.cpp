// A TLS connection as the HTTPS capture reads it: the client's bytes, a key log and the
// server's bytes, all from the input. Whether the server's bytes arrive whole or in pieces
// whose sizes the input picks, the same plaintext comes out and the connection ends in the
// same state; records waiting for their key never pass their bound.
//   input: [client length: 2][client bytes][key log length: 2][key log text][server bytes]
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "analysis/TlsKeyLog.h"
#include "filemode/TlsConnection.h"

using namespace qhs;

namespace {

struct Outcome {
    std::vector<std::uint8_t> plaintext;
    TlsFailure failure = TlsFailure::None;
    bool waiting = false;
    std::string protocol;
};

Outcome readInPieces(std::span<const std::uint8_t> client, const TlsKeyLog& keys,
                     std::span<const std::uint8_t> server, std::size_t piece) {
    Outcome outcome;
    TlsConnection connection([&](std::span<const std::uint8_t> bytes) {
        outcome.plaintext.insert(outcome.plaintext.end(), bytes.begin(), bytes.end());
    });
    connection.fromClient(client);
    for (std::size_t at = 0; at < server.size(); at += piece) {
        connection.fromServer(server.subspan(at, std::min(piece, server.size() - at)), keys);
    }
    outcome.failure = connection.failure();
    outcome.waiting = connection.waitingForKey();
    outcome.protocol = connection.protocol();
    return outcome;
}

std::size_t lengthAt(std::span<const std::uint8_t> bytes, std::size_t at) {
    return at + 2 <= bytes.size() ? std::size_t{bytes[at]} << 8 | bytes[at + 1] : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> input(data, data + size);
    const std::span<const std::uint8_t> bytes(input);
    std::size_t at = 0;
    const std::size_t clientLength = lengthAt(bytes, at);
    at = std::min(bytes.size(), at + 2);
    const std::span<const std::uint8_t> client =
        bytes.subspan(at, std::min(clientLength, bytes.size() - at));
    at += client.size();
    const std::size_t keyLogLength = lengthAt(bytes, at);
    at = std::min(bytes.size(), at + 2);
    const std::span<const std::uint8_t> keyLogText =
        bytes.subspan(at, std::min(keyLogLength, bytes.size() - at));
    at += keyLogText.size();
    const std::span<const std::uint8_t> server = bytes.subspan(at);
    TlsKeyLog keys;
    keys.append(
        std::string_view(reinterpret_cast<const char*>(keyLogText.data()), keyLogText.size()));

    const std::size_t piece = client.empty() ? 1 : client[0] % 97 + 1;
    const Outcome whole = readInPieces(client, keys, server, server.empty() ? 1 : server.size());
    const Outcome pieces = readInPieces(client, keys, server, piece);
    QHS_FUZZ_REQUIRE(whole.plaintext == pieces.plaintext);
    QHS_FUZZ_REQUIRE(whole.failure == pieces.failure);
    QHS_FUZZ_REQUIRE(whole.waiting == pieces.waiting);
    QHS_FUZZ_REQUIRE(whole.protocol == pieces.protocol);
    // Plaintext never outgrows what was sent.
    QHS_FUZZ_REQUIRE(whole.plaintext.size() <= server.size());
    return 0;
}
