#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/SettingsRecord.h"
#include "app/WorkerThread.h"
#include "filemode/FileSegmentFilter.h"
#include "filemode/FileSnifferState.h"
#include "filemode/StreamCompletion.h"
#include "filemode/StreamTable.h"

namespace qhs {

// Which connection a TCP segment belongs to: the family, both addresses and both ports,
// the client's end first.
using TcpConnectionKey = std::string;

// The HTTPS side of File Sniffer Mode. The file capture thread offers it every datagram;
// it takes those of each TCP connection that begins with a TLS client hello (and passes the
// window's filters as its server's data would), so they are not filed as plain streams.
// Its own thread puts both directions of each connection in order, decrypts the server's
// records with the key log's secrets and writes each response as a plain HTTP response
// would be written: HTTP/1.x by the same response decoding, HTTP/2 streams with status 200
// or 206 as such responses. Connections that cannot be decrypted are counted in the table.
class HttpsCapture {
  public:
    // The key log file named in the state is read from the start and again as it grows.
    HttpsCapture(StreamTable& table, FileSnifferState& state, const SettingsRecord& settings,
                 FileCaptureClock clock);
    // Stops, as stop() does, if neither stop() nor finish() has run.
    ~HttpsCapture();
    HttpsCapture(const HttpsCapture&) = delete;
    HttpsCapture& operator=(const HttpsCapture&) = delete;

    // Capture thread: whether the datagram (its own length) is taken. `now` is the clock of
    // the capture in ms. Live, a datagram that finds the queue full is dropped (its
    // connection then misses it); read from a file, the capture waits for room instead.
    bool offer(const std::uint8_t* datagram, std::size_t length, std::int64_t now);
    // The capture ended with its source (the end of a file): every datagram offered is
    // read, then each connection ends as it stands: what it was sending is written as far
    // as it came.
    void finish();
    // Stop: what is queued and the responses still open are discarded; connections still
    // waiting for their key are counted.
    void stop();

    // The bytes a live capture may queue for the HTTPS thread.
    static constexpr std::size_t LongestQueue = std::size_t{64} << 20;

  private:
    struct Queued {
        std::vector<std::uint8_t> datagram;
        std::int64_t now = 0;
    };
    struct Followed;
    struct Claim {
        bool clientFinished = false;
        bool serverFinished = false;
    };

    void run();
    void take(const Queued& queued);
    void endConnection(Followed& connection, bool written);
    bool refreshKeyLog();
    void retryWaiting();
    void writeResponse(Followed& connection, std::span<const std::uint8_t> message, bool ended);

    StreamTable& table_;
    FileSnifferState& state_;
    const FileCaptureClock clock_;
    const FileSegmentFilter filter_;
    const std::uint64_t responseLimit_;
    const std::string keyLogPath_;

    // Capture thread only: the connections taken.
    std::unordered_map<TcpConnectionKey, Claim> claimed_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Queued> queue_;
    std::size_t queuedBytes_ = 0;
    bool finishing_ = false;
    // Set by stop(), or by the HTTPS thread once it has ended: nothing more is queued.
    bool ended_ = false;

    // The HTTPS thread only.
    struct KeyLogFile;
    std::unique_ptr<KeyLogFile> keyLog_;
    std::unordered_map<TcpConnectionKey, std::unique_ptr<Followed>> connections_;
    std::int64_t now_ = 0;

    WorkerThread thread_;
};

}  // namespace qhs
