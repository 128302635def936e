#include "filemode/TlsDecryption.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <algorithm>
#include <array>
#include <string>

namespace qhs {

namespace {

constexpr std::size_t TagLength = 16;
constexpr std::size_t NonceLength = 12;
// TLS 1.2 AES-GCM: a 4-byte salt from the key block, 8 explicit bytes in each record.
constexpr std::size_t SaltLength = 4;
constexpr std::size_t ExplicitNonceLength = 8;

std::size_t keyLength(TlsAead aead) {
    return aead == TlsAead::Aes128Gcm ? 16 : 32;
}

const char* digestName(const TlsSuite& suite) {
    return suite.sha384 ? "SHA384" : "SHA256";
}

std::size_t hashLength(const TlsSuite& suite) {
    return suite.sha384 ? 48 : 32;
}

// Runs one of OpenSSL's key derivations (`name`) into `length` bytes.
std::optional<std::vector<std::uint8_t>> derive(const char* name, OSSL_PARAM* params,
                                                std::size_t length) {
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, name, nullptr);
    if (kdf == nullptr) {
        return std::nullopt;
    }
    EVP_KDF_CTX* context = EVP_KDF_CTX_new(kdf);
    EVP_KDF_free(kdf);
    if (context == nullptr) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out(length);
    const bool derived = EVP_KDF_derive(context, out.data(), out.size(), params) == 1;
    EVP_KDF_CTX_free(context);
    return derived ? std::optional(std::move(out)) : std::nullopt;
}

// HKDF-Expand-Label(secret, label, "", length) of RFC 8446 §7.1.
std::optional<std::vector<std::uint8_t>> expandLabel(const TlsSuite& suite,
                                                     std::span<const std::uint8_t> secret,
                                                     std::string_view label, std::size_t length) {
    const std::string fullLabel = "tls13 " + std::string(label);
    // The length, the label with its length, and an empty context.
    std::vector<std::uint8_t> info(3 + fullLabel.size() + 1, 0);
    info[0] = static_cast<std::uint8_t>(length >> 8);
    info[1] = static_cast<std::uint8_t>(length);
    info[2] = static_cast<std::uint8_t>(fullLabel.size());
    for (std::size_t i = 0; i < fullLabel.size(); ++i) {
        info[3 + i] = static_cast<std::uint8_t>(fullLabel[i]);
    }
    int mode = EVP_KDF_HKDF_MODE_EXPAND_ONLY;
    std::string digest = digestName(suite);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest.data(), 0),
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY,
                                          const_cast<std::uint8_t*>(secret.data()), secret.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
        OSSL_PARAM_construct_end(),
    };
    return derive("HKDF", params, length);
}

const EVP_CIPHER* cipherOf(TlsAead aead) {
    switch (aead) {
        case TlsAead::Aes128Gcm:
            return EVP_aes_128_gcm();
        case TlsAead::Aes256Gcm:
            return EVP_aes_256_gcm();
        case TlsAead::ChaCha20Poly1305:
            return EVP_chacha20_poly1305();
    }
    return nullptr;
}

void putNumber(std::vector<std::uint8_t>& out, std::uint64_t value, int width) {
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

}  // namespace

std::optional<TlsSuite> tlsSuite(std::uint16_t id, std::uint16_t version) {
    if (version == Tls13Version) {
        switch (id) {
            case 0x1301:
                return TlsSuite{TlsAead::Aes128Gcm, false};
            case 0x1302:
                return TlsSuite{TlsAead::Aes256Gcm, true};
            case 0x1303:
                return TlsSuite{TlsAead::ChaCha20Poly1305, false};
            default:
                return std::nullopt;
        }
    }
    if (version != Tls12Version) {
        return std::nullopt;
    }
    switch (id) {
        case 0x009C:  // RSA, AES-128-GCM, SHA-256
        case 0x009E:  // DHE-RSA
        case 0xC02B:  // ECDHE-ECDSA
        case 0xC02F:  // ECDHE-RSA
            return TlsSuite{TlsAead::Aes128Gcm, false};
        case 0x009D:  // RSA, AES-256-GCM, SHA-384
        case 0x009F:
        case 0xC02C:
        case 0xC030:
            return TlsSuite{TlsAead::Aes256Gcm, true};
        case 0xCCA8:  // ECDHE-RSA, ChaCha20-Poly1305, SHA-256
        case 0xCCA9:  // ECDHE-ECDSA
        case 0xCCAA:  // DHE-RSA
            return TlsSuite{TlsAead::ChaCha20Poly1305, false};
        default:
            return std::nullopt;
    }
}

std::optional<TlsTrafficKey> tls13TrafficKey(const TlsSuite& suite,
                                             std::span<const std::uint8_t> secret) {
    std::optional<std::vector<std::uint8_t>> key =
        expandLabel(suite, secret, "key", keyLength(suite.aead));
    std::optional<std::vector<std::uint8_t>> iv = expandLabel(suite, secret, "iv", NonceLength);
    if (!key || !iv) {
        return std::nullopt;
    }
    return TlsTrafficKey{std::move(*key), std::move(*iv)};
}

std::optional<std::vector<std::uint8_t>> tls13NextSecret(const TlsSuite& suite,
                                                         std::span<const std::uint8_t> secret) {
    return expandLabel(suite, secret, "traffic upd", hashLength(suite));
}

std::optional<TlsTrafficKey> tls12ServerKey(const TlsSuite& suite,
                                            std::span<const std::uint8_t> masterSecret,
                                            std::span<const std::uint8_t> clientRandom,
                                            std::span<const std::uint8_t> serverRandom) {
    // The key block: client key, server key, client IV, server IV (AEAD suites have no MAC
    // keys).
    const std::size_t key = keyLength(suite.aead);
    const std::size_t iv = suite.aead == TlsAead::ChaCha20Poly1305 ? NonceLength : SaltLength;
    const std::string label = "key expansion";
    std::vector<std::uint8_t> seed(label.size() + serverRandom.size() + clientRandom.size());
    std::copy(label.begin(), label.end(), seed.begin());
    std::copy(serverRandom.begin(), serverRandom.end(),
              seed.begin() + static_cast<std::ptrdiff_t>(label.size()));
    std::copy(clientRandom.begin(), clientRandom.end(),
              seed.end() - static_cast<std::ptrdiff_t>(clientRandom.size()));
    std::string digest = digestName(suite);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest.data(), 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET,
                                          const_cast<std::uint8_t*>(masterSecret.data()),
                                          masterSecret.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, seed.data(), seed.size()),
        OSSL_PARAM_construct_end(),
    };
    const std::optional<std::vector<std::uint8_t>> block =
        derive("TLS1-PRF", params, 2 * key + 2 * iv);
    if (!block) {
        return std::nullopt;
    }
    const auto at = [&](std::size_t offset, std::size_t length) {
        return std::vector<std::uint8_t>(
            block->begin() + static_cast<std::ptrdiff_t>(offset),
            block->begin() + static_cast<std::ptrdiff_t>(offset + length));
    };
    return TlsTrafficKey{at(key, key), at(2 * key + iv, iv)};
}

struct TlsRecordDecryptor::Cipher {
    EVP_CIPHER_CTX* context = nullptr;
    ~Cipher() { EVP_CIPHER_CTX_free(context); }
};

TlsRecordDecryptor::TlsRecordDecryptor(const TlsSuite& suite, std::uint16_t version,
                                       const TlsTrafficKey& key)
    : cipher_(std::make_unique<Cipher>()), suite_(suite), version_(version), iv_(key.iv) {
    // The key is set once; each record sets only its nonce.
    cipher_->context = EVP_CIPHER_CTX_new();
    if (cipher_->context == nullptr ||
        EVP_DecryptInit_ex2(cipher_->context, cipherOf(suite.aead), nullptr, nullptr, nullptr) !=
            1 ||
        EVP_CIPHER_CTX_ctrl(cipher_->context, EVP_CTRL_AEAD_SET_IVLEN,
                            static_cast<int>(NonceLength), nullptr) != 1 ||
        key.key.size() != keyLength(suite.aead) ||
        EVP_DecryptInit_ex2(cipher_->context, nullptr, key.key.data(), nullptr, nullptr) != 1) {
        EVP_CIPHER_CTX_free(cipher_->context);
        cipher_->context = nullptr;
    }
}

TlsRecordDecryptor::~TlsRecordDecryptor() = default;

std::optional<TlsPlaintext> TlsRecordDecryptor::open(const TlsRecord& record) {
    const std::span<const std::uint8_t> fragment(record.fragment);
    const bool explicitNonce = version_ == Tls12Version && suite_.aead != TlsAead::ChaCha20Poly1305;
    const std::size_t overhead = TagLength + (explicitNonce ? ExplicitNonceLength : 0);
    const std::uint64_t sequence = sequence_++;
    if (cipher_->context == nullptr || fragment.size() < overhead) {
        return std::nullopt;
    }
    std::array<std::uint8_t, NonceLength> nonce{};
    if (explicitNonce) {
        if (iv_.size() != SaltLength) {
            return std::nullopt;
        }
        std::copy(iv_.begin(), iv_.end(), nonce.begin());
        std::copy_n(fragment.begin(), ExplicitNonceLength, nonce.begin() + SaltLength);
    } else {
        if (iv_.size() != NonceLength) {
            return std::nullopt;
        }
        std::copy(iv_.begin(), iv_.end(), nonce.begin());
        for (int i = 0; i < 8; ++i) {
            nonce[NonceLength - 1 - i] ^= static_cast<std::uint8_t>(sequence >> (8 * i));
        }
    }
    const std::span<const std::uint8_t> sealed =
        fragment.subspan(explicitNonce ? ExplicitNonceLength : 0);
    const std::span<const std::uint8_t> ciphertext = sealed.first(sealed.size() - TagLength);
    std::array<std::uint8_t, TagLength> tag{};
    std::copy(sealed.end() - TagLength, sealed.end(), tag.begin());

    // TLS 1.3 authenticates the record header; TLS 1.2 the sequence number, the type, the
    // version and the plaintext's length.
    std::vector<std::uint8_t> additional;
    if (version_ == Tls13Version) {
        additional.push_back(static_cast<std::uint8_t>(record.contentType));
        putNumber(additional, record.version, 2);
        putNumber(additional, fragment.size(), 2);
    } else {
        putNumber(additional, sequence, 8);
        additional.push_back(static_cast<std::uint8_t>(record.contentType));
        putNumber(additional, record.version, 2);
        putNumber(additional, ciphertext.size(), 2);
    }

    EVP_CIPHER_CTX* context = cipher_->context;
    TlsPlaintext plaintext;
    plaintext.contentType = record.contentType;
    plaintext.data.resize(ciphertext.size());
    int written = 0;
    int finalWritten = 0;
    if (EVP_DecryptInit_ex2(context, nullptr, nullptr, nonce.data(), nullptr) != 1 ||
        EVP_DecryptUpdate(context, nullptr, &written, additional.data(),
                          static_cast<int>(additional.size())) != 1 ||
        EVP_DecryptUpdate(context, plaintext.data.data(), &written, ciphertext.data(),
                          static_cast<int>(ciphertext.size())) != 1 ||
        EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_AEAD_SET_TAG, static_cast<int>(TagLength),
                            tag.data()) != 1 ||
        EVP_DecryptFinal_ex(context, plaintext.data.data() + written, &finalWritten) != 1) {
        return std::nullopt;
    }
    plaintext.data.resize(static_cast<std::size_t>(written + finalWritten));
    if (version_ == Tls13Version) {
        // The content, its real type, then zeros of padding.
        while (!plaintext.data.empty() && plaintext.data.back() == 0) {
            plaintext.data.pop_back();
        }
        if (plaintext.data.empty()) {
            return std::nullopt;
        }
        plaintext.contentType = static_cast<TlsContentType>(plaintext.data.back());
        plaintext.data.pop_back();
    }
    return plaintext;
}

}  // namespace qhs
