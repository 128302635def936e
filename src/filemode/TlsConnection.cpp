#include "filemode/TlsConnection.h"

#include <algorithm>
#include <array>

namespace qhs {

namespace {

// The random of a TLS 1.3 server hello that asks the client for another hello (RFC 8446 §4.1.3).
constexpr std::array<std::uint8_t, 32> HelloRetryRandom = {
    0xCF, 0x21, 0xAD, 0x74, 0xE5, 0x9A, 0x61, 0x11, 0xBE, 0x1D, 0x8C, 0x02, 0x1E, 0x65, 0xB8, 0x91,
    0xC2, 0xA2, 0x11, 0x16, 0x7A, 0xBB, 0x8C, 0x5E, 0x07, 0x9E, 0x09, 0xE2, 0xC8, 0xA8, 0x33, 0x9C};

}  // namespace

bool beginsTlsConnection(std::span<const std::uint8_t> payload) {
    // Record header (handshake, version 3.x) and the first handshake header byte.
    return payload.size() >= 6 &&
           payload[0] == static_cast<std::uint8_t>(TlsContentType::Handshake) && payload[1] == 3 &&
           payload[5] == HandshakeClientHello;
}

void TlsConnection::fail(TlsFailure failure) {
    if (failure_ == TlsFailure::None) {
        failure_ = failure;
    }
    waiting_.clear();
    waitingBytes_ = 0;
    decryptor_.reset();
}

void TlsConnection::fromClient(std::span<const std::uint8_t> bytes) {
    if (clientRandom_ || failure_ != TlsFailure::None) {
        return;  // the rest of what the client says is not needed
    }
    clientRecords_.append(bytes);
    while (!clientRandom_) {
        std::optional<TlsRecord> record = clientRecords_.next();
        if (!record) {
            break;
        }
        if (record->contentType != TlsContentType::Handshake) {
            fail(TlsFailure::NotTls);
            return;
        }
        clientHandshake_.append(record->fragment);
        if (std::optional<TlsHandshakeMessage> message = clientHandshake_.next()) {
            std::optional<TlsClientHello> hello;
            if (message->type == HandshakeClientHello) {
                hello = parseClientHello(message->body);
            }
            if (!hello) {
                fail(TlsFailure::NotTls);
                return;
            }
            clientRandom_ = hello->random;
        }
    }
    if (clientRecords_.failed() || clientHandshake_.failed()) {
        fail(TlsFailure::NotTls);
    }
}

void TlsConnection::fromServer(std::span<const std::uint8_t> bytes, const TlsKeyLog& keys) {
    if (failure_ != TlsFailure::None) {
        return;
    }
    serverRecords_.append(bytes);
    while (failure_ == TlsFailure::None) {
        std::optional<TlsRecord> record = serverRecords_.next();
        if (!record) {
            break;
        }
        takeServerRecord(std::move(*record), keys);
    }
    if (serverRecords_.failed()) {
        fail(TlsFailure::NotTls);
    }
}

void TlsConnection::retry(const TlsKeyLog& keys) {
    if (waitingForKey()) {
        openWaiting(keys);
    }
}

void TlsConnection::takeServerRecord(TlsRecord record, const TlsKeyLog& keys) {
    if (record.contentType == TlsContentType::ChangeCipherSpec) {
        // TLS 1.2 protects what follows; TLS 1.3 sends one only to look like TLS 1.2.
        if (serverHello_ && serverHello_->version == Tls12Version) {
            serverProtected_ = true;
        }
        return;
    }
    if (serverProtected_) {
        // TLS 1.3 protects only application data records; an alert in the clear may follow.
        if (serverHello_->version == Tls13Version &&
            record.contentType != TlsContentType::ApplicationData) {
            return;
        }
        waitingBytes_ += record.fragment.size();
        waiting_.push_back(std::move(record));
        openWaiting(keys);
        if (waitingBytes_ > longestWaiting_) {
            fail(TlsFailure::NoKey);
        }
        return;
    }
    switch (record.contentType) {
        case TlsContentType::Handshake:
            serverHandshake_.append(record.fragment);
            while (std::optional<TlsHandshakeMessage> message = serverHandshake_.next()) {
                if (message->type == HandshakeServerHello) {
                    takeServerHello(message->body);
                }
                if (failure_ != TlsFailure::None || serverProtected_) {
                    return;
                }
            }
            if (serverHandshake_.failed()) {
                fail(TlsFailure::NotTls);
            }
            return;
        case TlsContentType::Alert:
            return;
        default:
            // Application data before the keys were agreed on.
            fail(TlsFailure::NotTls);
            return;
    }
}

void TlsConnection::takeServerHello(std::span<const std::uint8_t> body) {
    std::optional<TlsServerHello> hello = parseServerHello(body);
    if (!hello || !clientRandom_) {
        fail(TlsFailure::NotTls);
        return;
    }
    if (hello->random == HelloRetryRandom) {
        return;  // the real hello follows the client's second one
    }
    suite_ = tlsSuite(hello->cipherSuite, hello->version);
    if (!suite_) {
        fail(TlsFailure::UnsupportedSuite);
        return;
    }
    protocol_ = hello->protocol;
    serverProtected_ = hello->version == Tls13Version;
    serverHello_ = std::move(hello);
}

bool TlsConnection::makeDecryptor(const TlsKeyLog& keys) {
    std::optional<TlsTrafficKey> key;
    if (serverHello_->version == Tls12Version) {
        const std::optional<std::vector<std::uint8_t>> master =
            keys.secret(TlsSecretKind::MasterSecret, *clientRandom_);
        if (master) {
            key = tls12ServerKey(*suite_, *master, *clientRandom_, serverHello_->random);
        }
    } else if (epoch_ == Epoch::Handshake) {
        const std::optional<std::vector<std::uint8_t>> secret =
            keys.secret(TlsSecretKind::ServerHandshakeTrafficSecret, *clientRandom_);
        if (secret) {
            key = tls13TrafficKey(*suite_, *secret);
        }
    } else {
        if (applicationSecret_.empty()) {
            std::optional<std::vector<std::uint8_t>> secret =
                keys.secret(TlsSecretKind::ServerTrafficSecret0, *clientRandom_);
            if (!secret) {
                return false;
            }
            applicationSecret_ = std::move(*secret);
        }
        key = tls13TrafficKey(*suite_, applicationSecret_);
    }
    if (!key) {
        return false;
    }
    decryptor_ = std::make_unique<TlsRecordDecryptor>(*suite_, serverHello_->version, *key);
    return true;
}

void TlsConnection::openWaiting(const TlsKeyLog& keys) {
    while (failure_ == TlsFailure::None && !waiting_.empty()) {
        if (!decryptor_ && !makeDecryptor(keys)) {
            return;  // the key is not in the log yet
        }
        TlsRecord record = std::move(waiting_.front());
        waiting_.pop_front();
        waitingBytes_ -= record.fragment.size();
        std::optional<TlsPlaintext> plaintext = decryptor_->open(record);
        if (!plaintext) {
            fail(TlsFailure::BadTag);
            return;
        }
        switch (plaintext->contentType) {
            case TlsContentType::ApplicationData:
                decrypted_ = true;
                serverData_(plaintext->data);
                break;
            case TlsContentType::Handshake:
                if (serverHello_->version == Tls13Version) {
                    takeProtectedHandshake(plaintext->data);
                }
                break;
            default:
                break;  // alerts (close_notify)
        }
    }
}

void TlsConnection::takeProtectedHandshake(std::span<const std::uint8_t> bytes) {
    protectedHandshake_.append(bytes);
    while (std::optional<TlsHandshakeMessage> message = protectedHandshake_.next()) {
        if (message->type == HandshakeEncryptedExtensions) {
            std::optional<std::string> protocol = parseEncryptedExtensions(message->body);
            if (!protocol) {
                fail(TlsFailure::NotTls);
                return;
            }
            protocol_ = std::move(*protocol);
        } else if (message->type == HandshakeFinished && epoch_ == Epoch::Handshake) {
            // The server's handshake ends: its next record is under the application secret.
            epoch_ = Epoch::Application;
            decryptor_.reset();
        } else if (message->type == HandshakeKeyUpdate && epoch_ == Epoch::Application &&
                   !applicationSecret_.empty()) {
            std::optional<std::vector<std::uint8_t>> next =
                tls13NextSecret(*suite_, applicationSecret_);
            if (!next) {
                fail(TlsFailure::NoKey);
                return;
            }
            applicationSecret_ = std::move(*next);
            decryptor_.reset();
        }
    }
    if (protectedHandshake_.failed()) {
        fail(TlsFailure::NotTls);
    }
}

}  // namespace qhs
