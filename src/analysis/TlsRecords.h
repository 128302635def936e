#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/TlsKeyLog.h"

namespace qhs {

// TLS content types (RFC 8446 §5.1).
enum class TlsContentType : std::uint8_t {
    ChangeCipherSpec = 20,
    Alert = 21,
    Handshake = 22,
    ApplicationData = 23,
    Heartbeat = 24,
};

// One TLS record: its content type, the version its header names and its fragment.
struct TlsRecord {
    TlsContentType contentType = TlsContentType::Handshake;
    std::uint16_t version = 0;
    std::vector<std::uint8_t> fragment;
};

// Bytes that arrive in pieces and leave in whole units from the front: a buffer that never
// holds much more than what is still to be handed out.
class TlsByteQueue {
  public:
    void append(std::span<const std::uint8_t> bytes);
    std::span<const std::uint8_t> pending() const { return std::span(buffer_).subspan(start_); }
    // The first `count` pending bytes, taken off the front.
    std::vector<std::uint8_t> take(std::size_t count);
    void clear() {
        buffer_.clear();
        start_ = 0;
    }

  private:
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
};

// Cuts one direction of a connection, its bytes in sequence order, into TLS records. A header
// that names no TLS content type, a version that is not 3.x, or a length past 2^14 + 2048 (the
// most any record may carry) means the stream is not TLS: the reader stops there for good.
// It holds at most one record's bytes beyond what next() has handed out.
class TlsRecordReader {
  public:
    static constexpr std::size_t HeaderLength = 5;
    static constexpr std::size_t LongestFragment = 16384 + 2048;

    void append(std::span<const std::uint8_t> bytes);
    // The next whole record; nothing until more bytes arrive, and nothing for good once the
    // stream proved not to be TLS.
    std::optional<TlsRecord> next();
    bool failed() const { return failed_; }
    // Bytes received and not yet handed out in a record.
    std::size_t pending() const { return bytes_.pending().size(); }

  private:
    TlsByteQueue bytes_;
    bool failed_ = false;
};

// One handshake message: its type (1 client hello, 2 server hello, ...) and its body.
struct TlsHandshakeMessage {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> body;
};

// Joins the fragments of handshake records into handshake messages, which may span records
// or share one. A message longer than LongestMessage fails the reader for good.
class TlsHandshakeReader {
  public:
    static constexpr std::size_t LongestMessage = 65536;

    void append(std::span<const std::uint8_t> fragment);
    std::optional<TlsHandshakeMessage> next();
    bool failed() const { return failed_; }

  private:
    TlsByteQueue bytes_;
    bool failed_ = false;
};

// What a client hello says that decryption needs: its random, the protocols it offers
// (ALPN, "h2" and "http/1.1") and whether it offers TLS 1.3.
struct TlsClientHello {
    TlsClientRandom random{};
    std::vector<std::string> protocols;
    bool offersTls13 = false;
};

// What a server hello chose: its random, the cipher suite, the version (TLS 1.3 names itself
// in the supported_versions extension, behind the legacy 3.3) and, for TLS 1.2, the protocol
// (TLS 1.3 names it in the encrypted extensions).
struct TlsServerHello {
    std::array<std::uint8_t, 32> random{};
    std::uint16_t cipherSuite = 0;
    std::uint16_t version = 0;
    std::string protocol;
};

inline constexpr std::uint16_t Tls12Version = 0x0303;
inline constexpr std::uint16_t Tls13Version = 0x0304;

// The bodies of the two hellos (without the 4-byte handshake header); nothing when a length
// runs past the body.
std::optional<TlsClientHello> parseClientHello(std::span<const std::uint8_t> body);
std::optional<TlsServerHello> parseServerHello(std::span<const std::uint8_t> body);
// The protocol a TLS 1.3 server chose, from the body of its encrypted extensions ("" when it
// chose none); nothing when the body does not read.
std::optional<std::string> parseEncryptedExtensions(std::span<const std::uint8_t> body);

// Handshake message types that decryption follows.
inline constexpr std::uint8_t HandshakeClientHello = 1;
inline constexpr std::uint8_t HandshakeServerHello = 2;
inline constexpr std::uint8_t HandshakeEncryptedExtensions = 8;
inline constexpr std::uint8_t HandshakeFinished = 20;
inline constexpr std::uint8_t HandshakeKeyUpdate = 24;

}  // namespace qhs
