#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/TlsKeyLog.h"
#include "analysis/TlsRecords.h"
#include "filemode/TlsDecryption.h"

namespace qhs {

// Why a connection's data could not be read.
enum class TlsFailure {
    None,
    NotTls,            // its bytes are not TLS records (or its hellos do not read)
    NoKey,             // the key log never held its secrets
    UnsupportedSuite,  // a suite other than the AEAD ones (AES-GCM, ChaCha20-Poly1305)
    BadTag,            // a record failed its authentication: decryption ended there
};

// One TLS connection read from both directions, each in sequence order. From the client
// only its hello is needed (the random names the connection in the key log); the server's
// records are decrypted with the key log's secrets and its application data handed on in
// order. Records that arrive before their key wait (up to LongestWaiting bytes), so a key
// written to the log after the first records still opens them.
class TlsConnection {
  public:
    static constexpr std::size_t LongestWaiting = std::size_t{16} << 20;
    using PlaintextSink = std::function<void(std::span<const std::uint8_t> bytes)>;

    // `longestWaiting` bounds the records kept for a key not yet in the log: 0 when there is
    // no key log to wait for.
    explicit TlsConnection(PlaintextSink serverData, std::size_t longestWaiting = LongestWaiting)
        : serverData_(std::move(serverData)), longestWaiting_(longestWaiting) {}

    void fromClient(std::span<const std::uint8_t> bytes);
    void fromServer(std::span<const std::uint8_t> bytes, const TlsKeyLog& keys);
    // Tries the records that wait for their key again (the key log has grown).
    void retry(const TlsKeyLog& keys);

    bool waitingForKey() const { return failure_ == TlsFailure::None && !waiting_.empty(); }
    TlsFailure failure() const { return failure_; }
    // The protocol the server chose by ALPN ("h2", "http/1.1"), once known; "" for none.
    const std::string& protocol() const { return protocol_; }
    // Whether any application data has been decrypted.
    bool decrypted() const { return decrypted_; }

  private:
    enum class Epoch { Handshake, Application };

    void takeServerRecord(TlsRecord record, const TlsKeyLog& keys);
    void takeServerHello(std::span<const std::uint8_t> body);
    void openWaiting(const TlsKeyLog& keys);
    bool makeDecryptor(const TlsKeyLog& keys);
    void takeProtectedHandshake(std::span<const std::uint8_t> bytes);
    void fail(TlsFailure failure);

    PlaintextSink serverData_;
    std::size_t longestWaiting_;
    TlsRecordReader clientRecords_;
    TlsHandshakeReader clientHandshake_;
    std::optional<TlsClientRandom> clientRandom_;
    TlsRecordReader serverRecords_;
    TlsHandshakeReader serverHandshake_;
    TlsHandshakeReader protectedHandshake_;
    std::optional<TlsServerHello> serverHello_;
    std::optional<TlsSuite> suite_;
    std::string protocol_;
    // The server's records are protected from here on: TLS 1.3 after its hello, TLS 1.2
    // after its change cipher spec.
    bool serverProtected_ = false;
    Epoch epoch_ = Epoch::Handshake;
    // TLS 1.3: the server's application traffic secret in force (a KeyUpdate moves it on).
    std::vector<std::uint8_t> applicationSecret_;
    std::unique_ptr<TlsRecordDecryptor> decryptor_;
    std::deque<TlsRecord> waiting_;
    std::size_t waitingBytes_ = 0;
    TlsFailure failure_ = TlsFailure::None;
    bool decrypted_ = false;
};

// Whether TCP data begins a TLS connection: a handshake record that carries a client hello.
bool beginsTlsConnection(std::span<const std::uint8_t> payload);

}  // namespace qhs
