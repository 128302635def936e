// Any bytes as one direction of a TLS connection, and as the text of a key log, each taken in
// pieces whose sizes the first byte picks: the records, the handshake messages and the key log's
// secrets are the same as when the bytes arrive in one piece; no record is longer than TLS
// allows; the reader never holds more than a record beyond what it handed out; and the hellos
// are parsed without a read past their bodies.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "analysis/TlsKeyLog.h"
#include "analysis/TlsRecords.h"

using namespace qhs;

namespace {

struct Outcome {
    std::vector<std::vector<std::uint8_t>> records;
    std::vector<std::vector<std::uint8_t>> messages;
    bool failed = false;
};

Outcome readInPieces(std::span<const std::uint8_t> bytes, std::size_t piece) {
    Outcome outcome;
    TlsRecordReader records;
    TlsHandshakeReader handshakes;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        records.append(bytes.subspan(at, std::min(piece, bytes.size() - at)));
        while (std::optional<TlsRecord> record = records.next()) {
            QHS_FUZZ_REQUIRE(record->fragment.size() <= TlsRecordReader::LongestFragment);
            if (record->contentType == TlsContentType::Handshake) {
                handshakes.append(record->fragment);
                while (std::optional<TlsHandshakeMessage> message = handshakes.next()) {
                    // Each body in a buffer of its own size, so a read past it is caught.
                    const auto body = std::make_unique<std::uint8_t[]>(message->body.size());
                    if (!message->body.empty()) {
                        std::memcpy(body.get(), message->body.data(), message->body.size());
                    }
                    const std::span<const std::uint8_t> exact(body.get(), message->body.size());
                    if (message->type == 1) {
                        if (const std::optional<TlsClientHello> hello = parseClientHello(exact)) {
                            for (const std::string& name : hello->protocols) {
                                QHS_FUZZ_REQUIRE(!name.empty() && name.size() < 256);
                            }
                        }
                    } else if (message->type == 2) {
                        parseServerHello(exact);
                    }
                    outcome.messages.push_back(std::move(message->body));
                }
            }
            outcome.records.push_back(std::move(record->fragment));
        }
        QHS_FUZZ_REQUIRE(records.pending() <=
                         TlsRecordReader::HeaderLength + TlsRecordReader::LongestFragment + piece);
    }
    outcome.failed = records.failed();
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t piece = data[0] % 64 + 1;
    const auto copy = std::make_unique<std::uint8_t[]>(size - 1);
    if (size > 1) {
        std::memcpy(copy.get(), data + 1, size - 1);
    }
    const std::span<const std::uint8_t> bytes(copy.get(), size - 1);

    const Outcome whole = readInPieces(bytes, bytes.empty() ? 1 : bytes.size());
    const Outcome pieces = readInPieces(bytes, piece);
    QHS_FUZZ_REQUIRE(whole.records == pieces.records);
    QHS_FUZZ_REQUIRE(whole.messages == pieces.messages);
    QHS_FUZZ_REQUIRE(whole.failed == pieces.failed);

    const std::string_view text(reinterpret_cast<const char*>(copy.get()), size - 1);
    TlsKeyLog wholeLog;
    wholeLog.append(text);
    TlsKeyLog piecesLog;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        piecesLog.append(text.substr(at, piece));
    }
    QHS_FUZZ_REQUIRE(wholeLog.size() == piecesLog.size());
    return 0;
}
