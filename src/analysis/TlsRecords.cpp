#include "analysis/TlsRecords.h"

#include <algorithm>

namespace qhs {

namespace {

constexpr std::uint16_t ExtensionAlpn = 16;
constexpr std::uint16_t ExtensionSupportedVersions = 43;

// Reads fields front to back; any read past the end leaves it failed, reading zeros.
class FieldReader {
  public:
    explicit FieldReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    bool atEnd() const { return position_ == bytes_.size(); }
    std::uint32_t number(std::size_t width) {
        if (!has(width)) {
            return 0;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            value = value << 8 | bytes_[position_++];
        }
        return value;
    }
    std::span<const std::uint8_t> bytes(std::size_t count) {
        if (!has(count)) {
            return {};
        }
        const std::span<const std::uint8_t> taken = bytes_.subspan(position_, count);
        position_ += count;
        return taken;
    }
    // A field led by its length in `width` bytes.
    std::span<const std::uint8_t> vector(std::size_t width) { return bytes(number(width)); }

  private:
    bool has(std::size_t count) {
        if (!ok_ || bytes_.size() - position_ < count) {
            ok_ = false;
            return false;
        }
        return true;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

// The protocol names of an ALPN extension's list.
std::optional<std::vector<std::string>> alpnNames(std::span<const std::uint8_t> data) {
    FieldReader extension(data);
    FieldReader list(extension.vector(2));
    std::vector<std::string> names;
    while (list.ok() && !list.atEnd()) {
        const std::span<const std::uint8_t> name = list.vector(1);
        if (!list.ok() || name.empty()) {
            return std::nullopt;
        }
        names.emplace_back(name.begin(), name.end());
    }
    if (!extension.ok() || !extension.atEnd() || !list.ok()) {
        return std::nullopt;
    }
    return names;
}

// The one protocol a server's ALPN extension names into `protocol`; false when it names
// none or several.
bool readChosenProtocol(std::span<const std::uint8_t> data, std::string& protocol) {
    std::optional<std::vector<std::string>> names = alpnNames(data);
    if (!names || names->size() != 1) {
        return false;
    }
    protocol = std::move(names->front());
    return true;
}

// Calls `take(type, data)` for each extension of a hello's extension block, if it has one
// (hellos of old versions may end before it). False when the block is malformed.
template <typename Take>
bool readExtensions(FieldReader& hello, Take take) {
    if (hello.atEnd()) {
        return true;
    }
    FieldReader extensions(hello.vector(2));
    while (extensions.ok() && !extensions.atEnd()) {
        const auto type = static_cast<std::uint16_t>(extensions.number(2));
        const std::span<const std::uint8_t> data = extensions.vector(2);
        if (!extensions.ok() || !take(type, data)) {
            return false;
        }
    }
    return hello.ok() && hello.atEnd() && extensions.ok();
}

}  // namespace

void TlsByteQueue::append(std::span<const std::uint8_t> bytes) {
    // What was handed out goes once it is the larger part, so the buffer stays small.
    if (start_ > 0 && start_ >= buffer_.size() - start_) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> TlsByteQueue::take(std::size_t count) {
    const std::span<const std::uint8_t> taken = pending().first(count);
    start_ += count;
    return {taken.begin(), taken.end()};
}

void TlsRecordReader::append(std::span<const std::uint8_t> bytes) {
    if (!failed_) {
        bytes_.append(bytes);
    }
}

std::optional<TlsRecord> TlsRecordReader::next() {
    const std::span<const std::uint8_t> header = bytes_.pending();
    if (failed_ || header.size() < HeaderLength) {
        return std::nullopt;
    }
    const std::uint8_t type = header[0];
    const auto version = static_cast<std::uint16_t>(header[1] << 8 | header[2]);
    const std::size_t length = static_cast<std::size_t>(header[3] << 8 | header[4]);
    if (type < static_cast<std::uint8_t>(TlsContentType::ChangeCipherSpec) ||
        type > static_cast<std::uint8_t>(TlsContentType::Heartbeat) || header[1] != 3 ||
        length > LongestFragment) {
        failed_ = true;
        bytes_.clear();
        return std::nullopt;
    }
    if (header.size() < HeaderLength + length) {
        return std::nullopt;
    }
    bytes_.take(HeaderLength);
    TlsRecord record;
    record.contentType = static_cast<TlsContentType>(type);
    record.version = version;
    record.fragment = bytes_.take(length);
    return record;
}

void TlsHandshakeReader::append(std::span<const std::uint8_t> fragment) {
    if (!failed_) {
        bytes_.append(fragment);
    }
}

std::optional<TlsHandshakeMessage> TlsHandshakeReader::next() {
    constexpr std::size_t HeaderLength = 4;
    const std::span<const std::uint8_t> header = bytes_.pending();
    if (failed_ || header.size() < HeaderLength) {
        return std::nullopt;
    }
    const std::size_t length = static_cast<std::size_t>(header[1]) << 16 |
                               static_cast<std::size_t>(header[2]) << 8 | header[3];
    if (length > LongestMessage) {
        failed_ = true;
        bytes_.clear();
        return std::nullopt;
    }
    if (header.size() < HeaderLength + length) {
        return std::nullopt;
    }
    TlsHandshakeMessage message;
    message.type = header[0];
    bytes_.take(HeaderLength);
    message.body = bytes_.take(length);
    return message;
}

std::optional<TlsClientHello> parseClientHello(std::span<const std::uint8_t> body) {
    FieldReader hello(body);
    TlsClientHello parsed;
    hello.number(2);  // legacy version
    const std::span<const std::uint8_t> random = hello.bytes(parsed.random.size());
    hello.vector(1);  // session id
    hello.vector(2);  // cipher suites
    hello.vector(1);  // compression methods
    if (!hello.ok()) {
        return std::nullopt;
    }
    std::copy(random.begin(), random.end(), parsed.random.begin());
    const bool sound =
        readExtensions(hello, [&](std::uint16_t type, std::span<const std::uint8_t> data) {
            if (type == ExtensionAlpn) {
                std::optional<std::vector<std::string>> names = alpnNames(data);
                if (!names) {
                    return false;
                }
                parsed.protocols = std::move(*names);
            } else if (type == ExtensionSupportedVersions) {
                FieldReader extension(data);
                FieldReader versions(extension.vector(1));
                while (versions.ok() && !versions.atEnd()) {
                    const bool tls13 = versions.number(2) == Tls13Version;
                    parsed.offersTls13 = parsed.offersTls13 || tls13;
                }
                return extension.ok() && extension.atEnd() && versions.ok();
            }
            return true;
        });
    return sound ? std::optional(parsed) : std::nullopt;
}

std::optional<TlsServerHello> parseServerHello(std::span<const std::uint8_t> body) {
    FieldReader hello(body);
    TlsServerHello parsed;
    parsed.version = static_cast<std::uint16_t>(hello.number(2));
    const std::span<const std::uint8_t> random = hello.bytes(parsed.random.size());
    hello.vector(1);  // session id
    parsed.cipherSuite = static_cast<std::uint16_t>(hello.number(2));
    hello.number(1);  // compression method
    if (!hello.ok()) {
        return std::nullopt;
    }
    std::copy(random.begin(), random.end(), parsed.random.begin());
    const bool sound =
        readExtensions(hello, [&](std::uint16_t type, std::span<const std::uint8_t> data) {
            if (type == ExtensionAlpn) {
                return readChosenProtocol(data, parsed.protocol);
            }
            if (type == ExtensionSupportedVersions) {
                FieldReader extension(data);
                parsed.version = static_cast<std::uint16_t>(extension.number(2));
                return extension.ok() && extension.atEnd();
            }
            return true;
        });
    return sound ? std::optional(parsed) : std::nullopt;
}

std::optional<std::string> parseEncryptedExtensions(std::span<const std::uint8_t> body) {
    FieldReader extensions(body);
    std::string protocol;
    const bool sound =
        readExtensions(extensions, [&](std::uint16_t type, std::span<const std::uint8_t> data) {
            return type != ExtensionAlpn || readChosenProtocol(data, protocol);
        });
    return sound ? std::optional(protocol) : std::nullopt;
}

}  // namespace qhs
