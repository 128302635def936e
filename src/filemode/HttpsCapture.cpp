#include "filemode/HttpsCapture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "analysis/DatagramView.h"
#include "analysis/TlsKeyLog.h"
#include "app/Descriptor.h"
#include "filemode/FileCaptureLoop.h"
#include "filemode/Http1ResponseSplitter.h"
#include "filemode/Http2Responses.h"
#include "filemode/TcpReassembly.h"
#include "filemode/TlsConnection.h"

namespace qhs {

namespace {

// What a response may hold beyond "Maximum file size" for its headers, as for plain streams.
constexpr std::uint64_t MaximumHeaderAllowance = std::uint64_t{1} << 20;
// Connections followed at once; a TLS connection beyond them is left to the plain streams.
constexpr std::size_t MostConnections = 4096;
// How often the HTTPS thread looks at the key log again while a connection waits for a key
// and no datagram comes.
constexpr std::chrono::milliseconds KeyLogPollPeriod{100};
// What one look at the key log reads at most.
constexpr std::size_t LongestKeyLogRead = std::size_t{16} << 20;

// The connection's key with the datagram's source as the client, or as the server.
TcpConnectionKey connectionKey(const DatagramView& view, bool sourceIsClient) {
    TcpConnectionKey key;
    key.reserve(37);
    key.push_back(view.isIpv6() ? '6' : '4');
    const auto addAddress = [&](bool source) {
        if (view.isIpv6()) {
            const std::array<std::uint8_t, 16> address =
                source ? view.sourceAddress6() : view.destinationAddress6();
            key.append(address.begin(), address.end());
        } else {
            const std::array<std::uint8_t, 4> address =
                source ? view.sourceAddressBytes() : view.destinationAddressBytes();
            key.append(address.begin(), address.end());
        }
    };
    const auto addPort = [&](std::uint16_t port) {
        key.push_back(static_cast<char>(port >> 8));
        key.push_back(static_cast<char>(port & 0xFF));
    };
    addAddress(sourceIsClient);
    addPort(sourceIsClient ? view.sourcePort() : view.destinationPort());
    addAddress(!sourceIsClient);
    addPort(sourceIsClient ? view.destinationPort() : view.sourcePort());
    return key;
}

// Whether the server's data of this client's connection would pass the window's filters:
// the datagram with its two ends swapped.
bool serverSidePasses(const FileSegmentFilter& filter, const std::uint8_t* datagram,
                      std::size_t length, const DatagramView& view) {
    std::vector<std::uint8_t> mirrored(datagram, datagram + length);
    const std::size_t addressAt = view.isIpv6() ? 8 : 12;
    const std::size_t addressLength = view.isIpv6() ? 16 : 4;
    std::swap_ranges(mirrored.begin() + static_cast<std::ptrdiff_t>(addressAt),
                     mirrored.begin() + static_cast<std::ptrdiff_t>(addressAt + addressLength),
                     mirrored.begin() + static_cast<std::ptrdiff_t>(addressAt + addressLength));
    const std::size_t portsAt = view.upperOffset();
    std::swap_ranges(mirrored.begin() + static_cast<std::ptrdiff_t>(portsAt),
                     mirrored.begin() + static_cast<std::ptrdiff_t>(portsAt + 2),
                     mirrored.begin() + static_cast<std::ptrdiff_t>(portsAt + 2));
    return filter.accepts(mirrored.data(), mirrored.size());
}

bool isTcpSegment(const DatagramView& view) {
    return view.isDecodable() && view.isTcp() && view.hasPorts() && view.isTcpNavigable();
}

bool countsAsNotDecrypted(TlsFailure failure) {
    return failure == TlsFailure::NoKey || failure == TlsFailure::UnsupportedSuite ||
           failure == TlsFailure::BadTag;
}

}  // namespace

// The key log as the file holds it, read again from where the last look ended. A file put
// in its place (another inode, or shorter than what was read) is read from its start.
struct HttpsCapture::KeyLogFile {
    std::string path;
    TlsKeyLog secrets;
    dev_t device = 0;
    ino_t inode = 0;
    off_t offset = 0;

    // Whether new text was read.
    bool refresh() {
        if (path.empty()) {
            return false;
        }
        // Not blocking: a FIFO of that name must not hold the thread; only a regular file
        // is read.
        const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
        struct stat facts {};
        if (file.value < 0 || ::fstat(file.value, &facts) != 0 || !S_ISREG(facts.st_mode)) {
            return false;
        }
        if (facts.st_dev != device || facts.st_ino != inode || facts.st_size < offset) {
            device = facts.st_dev;
            inode = facts.st_ino;
            offset = 0;
        }
        bool grown = false;
        std::vector<char> buffer(64 * 1024);
        for (std::size_t taken = 0; taken < LongestKeyLogRead;) {
            const ssize_t got = ::pread(file.value, buffer.data(), buffer.size(), offset);
            if (got <= 0) {
                break;
            }
            secrets.append(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
            offset += got;
            taken += static_cast<std::size_t>(got);
            grown = true;
        }
        return grown;
    }
};

struct HttpsCapture::Followed {
    StreamEnds ends;
    TcpReassembly client;
    TcpReassembly server;
    std::optional<std::uint32_t> clientFinish;
    std::optional<std::uint32_t> serverFinish;
    std::unique_ptr<TlsConnection> tls;
    std::unique_ptr<Http1ResponseSplitter> http1;
    std::unique_ptr<Http2ResponseReader> http2;
    std::int64_t lastSeen = 0;
    bool counted = false;
    bool outOfMemory = false;
};

HttpsCapture::HttpsCapture(StreamTable& table, FileSnifferState& state,
                           const SettingsRecord& settings, FileCaptureClock clock)
    : table_(table),
      state_(state),
      clock_(clock),
      filter_(settings),
      responseLimit_(settings.fileMaxSize == 0
                         ? 0
                         : std::uint64_t{settings.fileMaxSize} + MaximumHeaderAllowance),
      keyLogPath_(state.tlsKeyLogFile()),
      keyLog_(std::make_unique<KeyLogFile>()) {
    keyLog_->path = keyLogPath_;
    thread_.start([this] { run(); });
}

HttpsCapture::~HttpsCapture() {
    stop();
}

bool HttpsCapture::offer(const std::uint8_t* datagram, std::size_t length, std::int64_t now) {
    const DatagramView view(datagram, static_cast<std::uint32_t>(length));
    if (!isTcpSegment(view)) {
        return false;
    }
    const std::span<const std::uint8_t> payload = view.payload();
    if (claimed_.empty() && !beginsTlsConnection(payload)) {
        return false;
    }
    const TcpConnectionKey clientFirst = connectionKey(view, true);
    bool fromClient = true;
    auto claim = claimed_.find(clientFirst);
    if (claim == claimed_.end()) {
        claim = claimed_.find(connectionKey(view, false));
        fromClient = false;
    }
    if (claim == claimed_.end()) {
        if (!beginsTlsConnection(payload) || claimed_.size() >= MostConnections ||
            !serverSidePasses(filter_, datagram, length, view)) {
            return false;
        }
        claim = claimed_.emplace(clientFirst, Claim{}).first;
        fromClient = true;
    }
    const TcpFlags flags = view.tcpFlags();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (clock_ == FileCaptureClock::DatagramStamps) {
            changed_.wait(lock, [&] { return queuedBytes_ + length <= LongestQueue || ended_; });
        }
        if (!ended_ && queuedBytes_ + length <= LongestQueue) {
            queue_.push_back({std::vector<std::uint8_t>(datagram, datagram + length), now});
            queuedBytes_ += length;
            changed_.notify_all();
        }
    }
    if (flags.reset) {
        claimed_.erase(claim);
    } else if (flags.finish) {
        (fromClient ? claim->second.clientFinished : claim->second.serverFinished) = true;
        if (claim->second.clientFinished && claim->second.serverFinished) {
            claimed_.erase(claim);
        }
    }
    return true;
}

void HttpsCapture::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void HttpsCapture::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void HttpsCapture::run() {
    keyLog_->refresh();
    bool finishing = false;
    for (;;) {
        Queued queued;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait_for(lock, KeyLogPollPeriod,
                              [&] { return !queue_.empty() || finishing_ || ended_; });
            if (ended_) {
                break;
            }
            if (queue_.empty()) {
                if (finishing_) {
                    finishing = true;
                    break;
                }
                lock.unlock();
                retryWaiting();
                continue;
            }
            queued = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= queued.datagram.size();
        }
        changed_.notify_all();
        take(queued);
    }
    for (auto& [key, connection] : connections_) {
        endConnection(*connection, finishing);
    }
    connections_.clear();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        queue_.clear();
        queuedBytes_ = 0;
    }
    changed_.notify_all();
}

bool HttpsCapture::refreshKeyLog() {
    return keyLog_->refresh();
}

void HttpsCapture::retryWaiting() {
    const bool anyWaiting =
        std::any_of(connections_.begin(), connections_.end(),
                    [](const auto& entry) { return entry.second->tls->waitingForKey(); });
    if (!anyWaiting || !refreshKeyLog()) {
        return;
    }
    for (auto& [key, connection] : connections_) {
        connection->tls->retry(keyLog_->secrets);
    }
}

void HttpsCapture::writeResponse(Followed& connection, std::span<const std::uint8_t> message,
                                 bool ended) {
    std::optional<UserMessage> shown = reportStreamFile(
        table_, state_,
        writeStreamFile(message, connection.ends.serverAddress, connection.ends.clientAddress,
                        state_.outputSettings(), completionTime(now_, clock_), !ended),
        connection.ends);
    if (shown) {
        state_.messages.show(std::move(*shown));
    }
}

void HttpsCapture::take(const Queued& queued) {
    const DatagramView view(queued.datagram.data(),
                            static_cast<std::uint32_t>(queued.datagram.size()));
    now_ = queued.now;
    const std::span<const std::uint8_t> payload = view.payload();
    bool fromClient = true;
    auto found = connections_.find(connectionKey(view, true));
    if (found == connections_.end()) {
        found = connections_.find(connectionKey(view, false));
        fromClient = false;
    }
    if (found == connections_.end()) {
        if (!beginsTlsConnection(payload)) {
            return;
        }
        if (connections_.size() >= MostConnections) {
            // The longest quiet one makes room.
            auto quietest = std::min_element(connections_.begin(), connections_.end(),
                                             [](const auto& a, const auto& b) {
                                                 return a.second->lastSeen < b.second->lastSeen;
                                             });
            endConnection(*quietest->second, true);
            connections_.erase(quietest);
        }
        auto connection = std::make_unique<Followed>();
        connection->ends = {view.destinationAddressText(), view.destinationPort(),
                            view.sourceAddressText(), view.sourcePort()};
        Followed* followed = connection.get();
        connection->tls = std::make_unique<TlsConnection>(
            [this, followed](std::span<const std::uint8_t> bytes) {
                if (followed->outOfMemory) {
                    return;
                }
                // Responses are held until whole, as plain streams are: not below the
                // memory floor. The connection is given up, as a segment would be.
                if (!table_.memoryAllows(bytes.size())) {
                    followed->outOfMemory = true;
                    followed->http1.reset();
                    followed->http2.reset();
                    state_.messages.post(segmentAllocationMessage({}));
                    return;
                }
                const auto written = [this, followed](std::span<const std::uint8_t> message,
                                                      bool ended) {
                    writeResponse(*followed, message, ended);
                };
                if (!followed->http1 && !followed->http2) {
                    if (followed->tls->protocol() == "h2") {
                        followed->http2 =
                            std::make_unique<Http2ResponseReader>(written, responseLimit_);
                    } else {
                        followed->http1 =
                            std::make_unique<Http1ResponseSplitter>(written, responseLimit_);
                    }
                }
                if (followed->http2) {
                    followed->http2->append(bytes);
                } else {
                    followed->http1->append(bytes);
                }
            },
            // Without a key log nothing is kept waiting for a key.
            keyLogPath_.empty() ? 0 : TlsConnection::LongestWaiting);
        found = connections_.emplace(connectionKey(view, true), std::move(connection)).first;
        fromClient = true;
    }
    Followed& connection = *found->second;
    connection.lastSeen = queued.now;
    const TcpFlags flags = view.tcpFlags();
    const std::uint32_t sequence = view.tcpSequence();
    if (fromClient) {
        if (!connection.client.started()) {
            connection.client.start(sequence);
        }
        connection.client.add(sequence, payload, [&](std::span<const std::uint8_t> bytes) {
            connection.tls->fromClient(bytes);
        });
        // The client's acknowledgement names the server's next byte: its first, at the hello.
        if (!connection.server.started() && flags.acknowledgement) {
            connection.server.start(view.tcpAcknowledgement());
        }
        if (flags.finish) {
            connection.clientFinish = sequence + static_cast<std::uint32_t>(payload.size());
        }
    } else {
        if (!connection.server.started()) {
            connection.server.start(sequence);
        }
        connection.server.add(sequence, payload, [&](std::span<const std::uint8_t> bytes) {
            connection.tls->fromServer(bytes, keyLog_->secrets);
        });
        if (flags.finish) {
            connection.serverFinish = sequence + static_cast<std::uint32_t>(payload.size());
        }
    }
    if (connection.tls->waitingForKey() && refreshKeyLog()) {
        connection.tls->retry(keyLog_->secrets);
    }
    if (!connection.counted && countsAsNotDecrypted(connection.tls->failure())) {
        connection.counted = true;
        table_.countEncryptedWithoutKey();
        // What a record that failed its check would have ended is not to be trusted: the
        // response under way is not written.
        connection.http1.reset();
        connection.http2.reset();
    }
    const bool closed = flags.reset || (connection.clientFinish && connection.serverFinish &&
                                        connection.client.reached(*connection.clientFinish) &&
                                        connection.server.reached(*connection.serverFinish));
    if (closed) {
        endConnection(connection, true);
        connections_.erase(found);
    }
}

void HttpsCapture::endConnection(Followed& connection, bool written) {
    if (written) {
        if (connection.tls->waitingForKey() && refreshKeyLog()) {
            connection.tls->retry(keyLog_->secrets);
        }
        if (connection.http2) {
            connection.http2->finish();
        } else if (connection.http1) {
            connection.http1->finish();
        }
    }
    if (!connection.counted &&
        (connection.tls->waitingForKey() || countsAsNotDecrypted(connection.tls->failure()))) {
        connection.counted = true;
        table_.countEncryptedWithoutKey();
    }
}

}  // namespace qhs
