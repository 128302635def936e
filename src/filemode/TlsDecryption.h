#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "analysis/TlsRecords.h"

namespace qhs {

// The AEAD ciphers whose records can be read.
enum class TlsAead { Aes128Gcm, Aes256Gcm, ChaCha20Poly1305 };

// A cipher suite as decryption needs it: its cipher and the hash of its key schedule.
struct TlsSuite {
    TlsAead aead = TlsAead::Aes128Gcm;
    bool sha384 = false;
};

// The suite of `id` for the TLS `version` the server chose, when its records can be read:
// TLS 1.3's three suites; TLS 1.2's AES-GCM and ChaCha20-Poly1305 suites (RSA, DHE and ECDHE).
std::optional<TlsSuite> tlsSuite(std::uint16_t id, std::uint16_t version);

// The key and IV of one direction: TLS 1.3 and ChaCha20 take a 12-byte IV, TLS 1.2 AES-GCM
// the 4-byte salt of its nonce.
struct TlsTrafficKey {
    std::vector<std::uint8_t> key;
    std::vector<std::uint8_t> iv;
};

// TLS 1.3 (RFC 8446 §7.3): the key and IV of a traffic secret, by HKDF-Expand-Label.
std::optional<TlsTrafficKey> tls13TrafficKey(const TlsSuite& suite,
                                             std::span<const std::uint8_t> secret);
// The secret that follows `secret` at a KeyUpdate ("traffic upd").
std::optional<std::vector<std::uint8_t>> tls13NextSecret(const TlsSuite& suite,
                                                         std::span<const std::uint8_t> secret);

// TLS 1.2 (RFC 5246 §6.3): the server's key and IV (salt) from the key block the master
// secret and the two randoms make.
std::optional<TlsTrafficKey> tls12ServerKey(const TlsSuite& suite,
                                            std::span<const std::uint8_t> masterSecret,
                                            std::span<const std::uint8_t> clientRandom,
                                            std::span<const std::uint8_t> serverRandom);

// The content of one protected record and its type (TLS 1.3 hides the type inside).
struct TlsPlaintext {
    TlsContentType contentType = TlsContentType::ApplicationData;
    std::vector<std::uint8_t> data;
};

// Opens the protected records of one direction under one key, counting their sequence
// numbers from 0 (RFC 8446 §5.3, RFC 5288 §3, RFC 7905 §2).
class TlsRecordDecryptor {
  public:
    TlsRecordDecryptor(const TlsSuite& suite, std::uint16_t version, const TlsTrafficKey& key);
    ~TlsRecordDecryptor();
    TlsRecordDecryptor(const TlsRecordDecryptor&) = delete;
    TlsRecordDecryptor& operator=(const TlsRecordDecryptor&) = delete;

    // The record's plaintext; nothing when it fails its authentication tag (or is too short
    // to carry one, or TLS 1.3 padding hides no type).
    std::optional<TlsPlaintext> open(const TlsRecord& record);

  private:
    struct Cipher;
    std::unique_ptr<Cipher> cipher_;
    TlsSuite suite_;
    std::uint16_t version_;
    std::vector<std::uint8_t> iv_;
    std::uint64_t sequence_ = 0;
};

}  // namespace qhs
