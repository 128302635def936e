#include "analysis/TlsKeyLog.h"

#include <algorithm>

#include "app/NumberText.h"

namespace qhs {

namespace {

struct Label {
    std::string_view text;
    TlsSecretKind kind;
};

constexpr Label Labels[] = {
    {"CLIENT_RANDOM", TlsSecretKind::MasterSecret},
    {"CLIENT_HANDSHAKE_TRAFFIC_SECRET", TlsSecretKind::ClientHandshakeTrafficSecret},
    {"SERVER_HANDSHAKE_TRAFFIC_SECRET", TlsSecretKind::ServerHandshakeTrafficSecret},
    {"CLIENT_TRAFFIC_SECRET_0", TlsSecretKind::ClientTrafficSecret0},
    {"SERVER_TRAFFIC_SECRET_0", TlsSecretKind::ServerTrafficSecret0},
};

// Hexadecimal text into bytes; nothing when a character is no digit or the count is odd.
std::optional<std::vector<std::uint8_t>> hexBytes(std::string_view text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = hexDigitValue(static_cast<unsigned char>(text[2 * i]));
        const int low = hexDigitValue(static_cast<unsigned char>(text[2 * i + 1]));
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return bytes;
}

// The next field of blanks-separated text, and the text after it.
std::string_view nextField(std::string_view& rest) {
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) {
        rest.remove_prefix(1);
    }
    std::size_t end = 0;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t') {
        ++end;
    }
    const std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end);
    return field;
}

}  // namespace

void TlsKeyLog::append(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view piece = text.substr(0, end);
        if (!skippingLongLine_) {
            if (partial_.size() + piece.size() > LongestLine) {
                skippingLongLine_ = true;
                partial_.clear();
            } else {
                partial_.append(piece);
            }
        }
        if (end == std::string_view::npos) {
            return;
        }
        if (!skippingLongLine_) {
            takeLine(partial_);
        }
        partial_.clear();
        skippingLongLine_ = false;
        text.remove_prefix(end + 1);
    }
}

void TlsKeyLog::takeLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    std::string_view rest = line;
    const std::string_view label = nextField(rest);
    const std::string_view random = nextField(rest);
    const std::string_view secretText = nextField(rest);
    if (!nextField(rest).empty()) {
        return;
    }
    const Label* known = nullptr;
    for (const Label& candidate : Labels) {
        if (candidate.text == label) {
            known = &candidate;
        }
    }
    if (known == nullptr) {
        return;
    }
    const std::optional<std::vector<std::uint8_t>> randomBytes = hexBytes(random);
    const std::optional<std::vector<std::uint8_t>> secret = hexBytes(secretText);
    if (!randomBytes || randomBytes->size() != TlsClientRandom{}.size() || !secret ||
        secret->empty() || secret->size() > LongestSecret) {
        return;
    }
    TlsClientRandom key{};
    std::copy(randomBytes->begin(), randomBytes->end(), key.begin());
    secrets_[{known->kind, key}] = *secret;
}

std::optional<std::vector<std::uint8_t>> TlsKeyLog::secret(
    TlsSecretKind kind, const TlsClientRandom& clientRandom) const {
    const auto found = secrets_.find({kind, clientRandom});
    if (found == secrets_.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace qhs
