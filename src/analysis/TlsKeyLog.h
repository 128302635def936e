#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qhs {

// The secrets a TLS connection needs, as the NSS key log names them.
enum class TlsSecretKind {
    MasterSecret,                  // CLIENT_RANDOM: TLS 1.2's 48-byte master secret
    ClientHandshakeTrafficSecret,  // CLIENT_HANDSHAKE_TRAFFIC_SECRET (TLS 1.3)
    ServerHandshakeTrafficSecret,  // SERVER_HANDSHAKE_TRAFFIC_SECRET
    ClientTrafficSecret0,          // CLIENT_TRAFFIC_SECRET_0
    ServerTrafficSecret0,          // SERVER_TRAFFIC_SECRET_0
};

using TlsClientRandom = std::array<std::uint8_t, 32>;

// The secrets of an NSS key log, the file that SSLKEYLOGFILE names for curl, Firefox and
// Chromium: one secret per line, "LABEL <client random> <secret>", both in hexadecimal. Lines
// that start with '#', lines of other labels and lines that do not read as a secret are passed
// over. The file is read as it grows: text is taken in any pieces, and a line counts once its
// '\n' has arrived, so a line half written is kept for the next piece.
class TlsKeyLog {
  public:
    // The longest line kept waiting for its end; a longer one is no secret and is dropped.
    static constexpr std::size_t LongestLine = 512;
    // The longest secret a key log holds: 48 bytes (SHA-384).
    static constexpr std::size_t LongestSecret = 48;

    void append(std::string_view text);

    // The secret of `kind` for the connection whose client hello carried `clientRandom`.
    std::optional<std::vector<std::uint8_t>> secret(TlsSecretKind kind,
                                                    const TlsClientRandom& clientRandom) const;
    // Secrets read so far; a later line for the same connection and kind replaces one.
    std::size_t size() const { return secrets_.size(); }

  private:
    void takeLine(std::string_view line);

    std::string partial_;
    bool skippingLongLine_ = false;
    std::map<std::pair<TlsSecretKind, TlsClientRandom>, std::vector<std::uint8_t>> secrets_;
};

}  // namespace qhs
