#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "analysis/TlsKeyLog.h"
#include "filemode/TcpReassembly.h"
#include "filemode/TlsConnection.h"

namespace qhs {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What one TLS session between OpenSSL's own client and server put on the wire, and the key
// log the client wrote, as curl writes it with SSLKEYLOGFILE.
struct RecordedSession {
    Bytes fromClient;
    Bytes fromServer;
    std::string keyLog;
    std::string suite;
};

std::string* keyLogBeingWritten = nullptr;

void writeKeyLogLine(const SSL*, const char* line) {
    *keyLogBeingWritten += line;
    *keyLogBeingWritten += '\n';
}

int chooseH2(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* in,
             unsigned int inLength, void*) {
    static const unsigned char h2[] = {2, 'h', '2'};
    return SSL_select_next_proto(const_cast<unsigned char**>(out), outLength, h2 + 0, sizeof h2, in,
                                 inLength) == OPENSSL_NPN_NEGOTIATED
               ? SSL_TLSEXT_ERR_OK
               : SSL_TLSEXT_ERR_NOACK;
}

// A P-256 key and a self-signed certificate for the server.
void giveServerIdentity(SSL_CTX* server) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509_sign(certificate, key, EVP_sha256());
    SSL_CTX_use_certificate(server, certificate);
    SSL_CTX_use_PrivateKey(server, key);
    X509_free(certificate);
    EVP_PKEY_free(key);
}

// Moves what `from` has written to `to`, keeping a copy in `wire`.
void carry(BIO* from, BIO* to, Bytes& wire) {
    char buffer[65536];
    int got = 0;
    while ((got = BIO_read(from, buffer, sizeof buffer)) > 0) {
        wire.insert(wire.end(), buffer, buffer + got);
        BIO_write(to, buffer, got);
    }
}

// A session of `version` with `cipher` (a TLS 1.2 cipher list or a TLS 1.3 suite) in which the
// server sends `response` in pieces of `piece` bytes, with a key update half way when asked.
RecordedSession recordSession(int version, const char* cipher, const Bytes& response,
                              std::size_t piece, bool keyUpdate = false) {
    RecordedSession session;
    keyLogBeingWritten = &session.keyLog;
    SSL_CTX* clientContext = SSL_CTX_new(TLS_client_method());
    SSL_CTX* serverContext = SSL_CTX_new(TLS_server_method());
    for (SSL_CTX* context : {clientContext, serverContext}) {
        SSL_CTX_set_min_proto_version(context, version);
        SSL_CTX_set_max_proto_version(context, version);
        if (version == TLS1_3_VERSION) {
            SSL_CTX_set_ciphersuites(context, cipher);
        } else {
            SSL_CTX_set_cipher_list(context, cipher);
        }
    }
    SSL_CTX_set_keylog_callback(clientContext, writeKeyLogLine);
    static const unsigned char offered[] = {2, 'h', '2', 8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
    SSL_CTX_set_alpn_protos(clientContext, offered, sizeof offered);
    SSL_CTX_set_alpn_select_cb(serverContext, chooseH2, nullptr);
    giveServerIdentity(serverContext);

    SSL* client = SSL_new(clientContext);
    SSL* server = SSL_new(serverContext);
    BIO* clientIn = BIO_new(BIO_s_mem());
    BIO* clientOut = BIO_new(BIO_s_mem());
    BIO* serverIn = BIO_new(BIO_s_mem());
    BIO* serverOut = BIO_new(BIO_s_mem());
    SSL_set_bio(client, clientIn, clientOut);
    SSL_set_bio(server, serverIn, serverOut);
    SSL_set_connect_state(client);
    SSL_set_accept_state(server);
    for (int round = 0;
         round < 10 && !(SSL_is_init_finished(client) && SSL_is_init_finished(server)); ++round) {
        SSL_do_handshake(client);
        carry(clientOut, serverIn, session.fromClient);
        SSL_do_handshake(server);
        carry(serverOut, clientIn, session.fromServer);
    }
    for (std::size_t at = 0; at < response.size(); at += piece) {
        if (keyUpdate && at >= response.size() / 2 && at < response.size() / 2 + piece) {
            SSL_key_update(server, SSL_KEY_UPDATE_NOT_REQUESTED);
        }
        SSL_write(server, response.data() + at,
                  static_cast<int>(std::min(piece, response.size() - at)));
    }
    SSL_shutdown(server);
    carry(serverOut, clientIn, session.fromServer);
    // The client reads it all, so every record is one it accepts.
    Bytes read(response.size() + 1);
    std::size_t total = 0;
    int got = 0;
    while ((got = SSL_read(client, read.data() + total, static_cast<int>(read.size() - total))) >
           0) {
        total += static_cast<std::size_t>(got);
    }
    EXPECT_EQ(total, response.size());
    session.suite = SSL_get_cipher_name(client);
    SSL_free(client);
    SSL_free(server);
    SSL_CTX_free(clientContext);
    SSL_CTX_free(serverContext);
    keyLogBeingWritten = nullptr;
    return session;
}

Bytes patterned(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    return bytes;
}

struct Decrypted {
    Bytes data;
    TlsFailure failure = TlsFailure::None;
    std::string protocol;
};

// Reads a recorded session as the capture sees it: the client's bytes, then the server's in
// pieces of `piece` bytes, with `keys` known from the start.
Decrypted decrypt(const RecordedSession& session, const TlsKeyLog& keys, std::size_t piece) {
    Decrypted out;
    TlsConnection connection([&](std::span<const std::uint8_t> bytes) {
        out.data.insert(out.data.end(), bytes.begin(), bytes.end());
    });
    connection.fromClient(session.fromClient);
    for (std::size_t at = 0; at < session.fromServer.size(); at += piece) {
        connection.fromServer(std::span(session.fromServer)
                                  .subspan(at, std::min(piece, session.fromServer.size() - at)),
                              keys);
    }
    out.failure = connection.failure();
    out.protocol = connection.protocol();
    return out;
}

TlsKeyLog keyLogOf(const RecordedSession& session) {
    TlsKeyLog keys;
    keys.append(session.keyLog);
    return keys;
}

TEST(TlsDecryption, EveryAeadSuiteOfTls12And13OpensTheServersDataWithTheClientsKeyLog) {
    const Bytes response = patterned(100000);
    const struct {
        int version;
        const char* cipher;
        const char* suite;
    } cases[] = {
        {TLS1_3_VERSION, "TLS_AES_128_GCM_SHA256", "TLS_AES_128_GCM_SHA256"},
        {TLS1_3_VERSION, "TLS_AES_256_GCM_SHA384", "TLS_AES_256_GCM_SHA384"},
        {TLS1_3_VERSION, "TLS_CHACHA20_POLY1305_SHA256", "TLS_CHACHA20_POLY1305_SHA256"},
        {TLS1_2_VERSION, "ECDHE-ECDSA-AES128-GCM-SHA256", "ECDHE-ECDSA-AES128-GCM-SHA256"},
        {TLS1_2_VERSION, "ECDHE-ECDSA-AES256-GCM-SHA384", "ECDHE-ECDSA-AES256-GCM-SHA384"},
        {TLS1_2_VERSION, "ECDHE-ECDSA-CHACHA20-POLY1305", "ECDHE-ECDSA-CHACHA20-POLY1305"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.cipher);
        const RecordedSession session = recordSession(each.version, each.cipher, response, 16384);
        ASSERT_EQ(session.suite, each.suite);
        // The server's bytes as TCP may cut them: whole, in odd pieces, byte by byte.
        for (const std::size_t piece :
             {session.fromServer.size(), std::size_t{1337}, std::size_t{1}}) {
            const Decrypted decrypted = decrypt(session, keyLogOf(session), piece);
            EXPECT_EQ(decrypted.failure, TlsFailure::None);
            EXPECT_EQ(decrypted.protocol, "h2");
            EXPECT_TRUE(decrypted.data == response) << decrypted.data.size() << " bytes";
        }
    }
    // A TLS 1.3 key update half way: the rest is under the next secret.
    const RecordedSession updated =
        recordSession(TLS1_3_VERSION, "TLS_AES_128_GCM_SHA256", response, 4096, true);
    EXPECT_TRUE(decrypt(updated, keyLogOf(updated), 1000).data == response);
}

TEST(TlsDecryption, RecordsWaitForAKeyThatComesLaterAndAFailedTagEndsDecryptionThere) {
    const Bytes response = patterned(50000);
    for (const int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
        SCOPED_TRACE(version);
        const RecordedSession session = recordSession(
            version,
            version == TLS1_3_VERSION ? "TLS_AES_256_GCM_SHA384" : "ECDHE-ECDSA-AES128-GCM-SHA256",
            response, 10000);

        // The key log is written after the records arrive: they wait, then open.
        Bytes data;
        TlsConnection late([&](std::span<const std::uint8_t> bytes) {
            data.insert(data.end(), bytes.begin(), bytes.end());
        });
        late.fromClient(session.fromClient);
        const TlsKeyLog empty;
        late.fromServer(session.fromServer, empty);
        EXPECT_TRUE(late.waitingForKey());
        EXPECT_TRUE(data.empty());
        TlsKeyLog keys;
        // Half a line is not a key yet.
        keys.append(session.keyLog.substr(0, session.keyLog.size() - 1));
        late.retry(keys);
        keys.append("\n");
        late.retry(keys);
        EXPECT_FALSE(late.waitingForKey());
        EXPECT_EQ(late.failure(), TlsFailure::None);
        EXPECT_TRUE(data == response);

        // Another connection's key opens nothing.
        const RecordedSession other = recordSession(
            version,
            version == TLS1_3_VERSION ? "TLS_AES_256_GCM_SHA384" : "ECDHE-ECDSA-AES128-GCM-SHA256",
            response, 10000);
        const Decrypted withoutKey = decrypt(session, keyLogOf(other), 4096);
        EXPECT_TRUE(withoutKey.data.empty());
        EXPECT_EQ(withoutKey.failure, TlsFailure::None);
        // With no key log to wait for, nothing is kept: the connection is given up at once.
        TlsConnection noLog([](std::span<const std::uint8_t>) {}, 0);
        noLog.fromClient(session.fromClient);
        noLog.fromServer(session.fromServer, empty);
        EXPECT_EQ(noLog.failure(), TlsFailure::NoKey);
        EXPECT_FALSE(noLog.waitingForKey());

        // One byte changed in the third application record from the end: the two records
        // before it are the last handed on, nothing of it or after it.
        RecordedSession tampered = session;
        std::vector<std::size_t> records;
        for (std::size_t at = 0; at + 5 <= tampered.fromServer.size();
             at += 5 + (tampered.fromServer[at + 3] << 8 | tampered.fromServer[at + 4])) {
            if (tampered.fromServer[at] == 23) {
                records.push_back(at);
            }
        }
        ASSERT_GE(records.size(), 4u);
        tampered.fromServer[records[records.size() - 3] + 20] ^= 0x01;
        const Decrypted failed = decrypt(tampered, keyLogOf(session), 777);
        EXPECT_EQ(failed.failure, TlsFailure::BadTag);
        EXPECT_LT(failed.data.size(), response.size());
        EXPECT_TRUE(std::equal(failed.data.begin(), failed.data.end(), response.begin()));
    }
    // A suite whose records are not AEAD is counted, not guessed at.
    const RecordedSession cbc =
        recordSession(TLS1_2_VERSION, "ECDHE-ECDSA-AES128-SHA256", response, 10000);
    EXPECT_EQ(decrypt(cbc, keyLogOf(cbc), 4096).failure, TlsFailure::UnsupportedSuite);
}

TEST(TcpReassembly, SegmentsOutOfOrderSentTwiceOrOverlappingGiveEachByteOnceInOrder) {
    const Bytes stream = patterned(20000);
    std::mt19937 random(7);
    for (const std::uint32_t first : {1000u, 0xFFFFF000u}) {  // the second wraps past 2^32
        SCOPED_TRACE(first);
        // Segments of 1 to 1500 bytes, each sent once or twice, some overlapping the next.
        std::vector<std::pair<std::uint32_t, Bytes>> segments;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t length =
                std::min<std::size_t>(1 + random() % 1500, stream.size() - at);
            const std::size_t overlap =
                std::min<std::size_t>(random() % 3 == 0 ? 100 : 0, stream.size() - at - length);
            segments.emplace_back(
                first + static_cast<std::uint32_t>(at),
                Bytes(stream.begin() + at, stream.begin() + at + length + overlap));
            if (random() % 4 == 0) {
                segments.push_back(segments.back());
            }
            at += length;
        }
        std::shuffle(segments.begin() + 1, segments.end(), random);
        TcpReassembly reassembly;
        reassembly.start(first);
        Bytes delivered;
        for (const auto& [sequence, data] : segments) {
            reassembly.add(sequence, data, [&](std::span<const std::uint8_t> bytes) {
                delivered.insert(delivered.end(), bytes.begin(), bytes.end());
            });
        }
        EXPECT_FALSE(reassembly.broken());
        EXPECT_TRUE(delivered == stream);
        EXPECT_TRUE(reassembly.reached(first + static_cast<std::uint32_t>(stream.size())));
    }
    // A gap that never closes holds at most LongestHeldAhead, then gives up.
    TcpReassembly gap;
    gap.start(0);
    const Bytes block(64 * 1024, 1);
    std::size_t deliveredBytes = 0;
    for (std::uint32_t at = 1; at < 2 * TcpReassembly::LongestHeldAhead; at += block.size()) {
        gap.add(at, block,
                [&](std::span<const std::uint8_t> bytes) { deliveredBytes += bytes.size(); });
    }
    EXPECT_TRUE(gap.broken());
    EXPECT_EQ(deliveredBytes, 0u);
}

}  // namespace
}  // namespace qhs
