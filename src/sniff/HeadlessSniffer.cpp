#include "sniff/HeadlessSniffer.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "analysis/PacketFilter.h"
#include "app/ProcessClock.h"
#include "app/PublishedSettings.h"
#include "app/SettingsRecord.h"
#include "capture/CaptureFileSource.h"
#include "capture/PacketCaptureLoop.h"
#include "filemode/FileCapture.h"
#include "filemode/StreamCompletion.h"
#include "packetmode/CaptureFileExport.h"
#include "packetmode/PacketListSave.h"
#include "packetmode/PacketRecord.h"
#include "packetmode/RecordFile.h"

namespace qhs {

namespace {

constexpr int ExitDone = 0;
constexpr int ExitFailed = 1;

// A source that remembers how opening it went and counts what it delivered, so the run can
// say what failed and how much it received.
class ObservedSource final : public CaptureSource {
  public:
    // `opened` runs once the capture is open (or failed to open), on the opening thread.
    ObservedSource(std::unique_ptr<CaptureSource> inner, std::function<void()> opened)
        : inner_(std::move(inner)), opened_(std::move(opened)) {}

    long createSocket() override { return creationError = inner_->createSocket(); }
    BindResult bindToInterface(const std::string& address) override {
        bind = inner_->bindToInterface(address);
        if (opened_) {
            opened_();
        }
        return bind;
    }
    void setLargeReceiveBuffer() override { inner_->setLargeReceiveBuffer(); }
    ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity) override {
        return counted(inner_->receive(buffer, capacity));
    }
    ReceiveResult receiveInto(const DatagramAllocator& allocate) override {
        return counted(inner_->receiveInto(allocate));
    }
    ReceiveResult receiveVisit(const DatagramVisitor& visit) override {
        return counted(inner_->receiveVisit(visit));
    }
    void close() override { inner_->close(); }
    std::uint64_t droppedCount() const override { return inner_->droppedCount(); }

    long creationError = 0;
    BindResult bind;
    std::atomic<std::uint64_t> received{0};

  private:
    ReceiveResult counted(const ReceiveResult& result) {
        if (result.ok) {
            received.fetch_add(1, std::memory_order_relaxed);
        }
        return result;
    }
    std::unique_ptr<CaptureSource> inner_;
    std::function<void()> opened_;
};

// The one-line reason an opened source cannot capture, or nothing when it can.
std::optional<std::string> openingFault(const ObservedSource& source, const std::string& address) {
    const long creation = source.creationError;
    if (creation == EPERM || creation == EACCES || source.bind.status == BindStatus::NotASocket) {
        return "no permission to capture: run as root, or as a member of the group "
               "quillharbour-capture (see the README)";
    }
    if (creation != 0) {
        return "cannot open a capture: " + std::string(std::strerror(static_cast<int>(creation)));
    }
    if (source.bind.status == BindStatus::NotAnInterface) {
        return "no interface that is up owns the address \"" + address + "\"";
    }
    if (source.bind.status == BindStatus::OtherError) {
        return "cannot capture on " + address + ": error " + std::to_string(source.bind.errorCode);
    }
    return std::nullopt;
}

RecordFlags recordFlags(SniffData data, bool forTerminal) {
    RecordFlags flags;
    flags.forTerminal = forTerminal;
    flags.text = data == SniffData::Text;
    flags.dec = data == SniffData::Dec;
    flags.hex = data == SniffData::Hex;
    return flags;
}

// Ends a wait on the main thread: a stop request from the watcher or the run itself.
class StopLatch {
  public:
    void request() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requested_ = true;
        }
        changed_.notify_all();
    }
    // Waits up to `period`; true once a stop was requested.
    bool waitFor(std::chrono::milliseconds period) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, period, [this] { return requested_; });
    }
    bool requested() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requested_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
};

class HeadlessRun {
  public:
    HeadlessRun(const SniffOptions& options, const SettingsLocation& settings,
                const SniffServices& services, std::FILE* out, std::FILE* err)
        : options_(options), services_(services), out_(out), err_(err) {
        if (loadSettings(settings_, settings.path, "/", settings.seedPath) ==
            SettingsRead::Untrusted) {
            untrustedSettings_ = settings.path;
        }
        address_ = options.interfaceAddress.empty()
                       ? std::string(textField(settings_.interfaceAddress))
                       : options.interfaceAddress;
        setTextField(settings_.interfaceAddress, address_);
    }

    int run() {
        if (!untrustedSettings_.empty()) {
            const std::string problem =
                untrustedSettings_ + ": other users can write this settings file; it is not read";
            if (!options_.settingsFile.empty()) {
                return fail(problem);
            }
            std::fprintf(err_, "QuillharbourSnifferV1.5: %s (the defaults are used)\n",
                         problem.c_str());
        }
        return options_.filesDirectory.empty() ? sniffPackets() : rebuildFiles();
    }

  private:
    int fail(const std::string& message) {
        std::fprintf(err_, "QuillharbourSnifferV1.5: %s\n", message.c_str());
        return ExitFailed;
    }

    // As tcpdump does, once the capture is open: from here on nothing is missed.
    void announceListening() {
        std::fprintf(err_, "listening on %s\n", address_.c_str());
        std::fflush(err_);
    }

    // Called once the capture is open, on the thread that opened it, before any other starts.
    void dropPrivileges() {
        privilegesDropped_ = !services_.dropPrivileges || services_.dropPrivileges();
    }
    std::optional<int> privilegeFault() {
        if (privilegesDropped_) {
            return std::nullopt;
        }
        return fail("cannot give up the capture privileges");
    }

    // Reading a file needs no privilege, so every one goes first.
    std::unique_ptr<CaptureFrames> openFile() {
        dropPrivileges();
        if (privilegeFault()) {
            return nullptr;
        }
        // The whole file is checked first, so a damaged one ends the run before any record.
        std::optional<std::string> fault;
        {
            const std::unique_ptr<CaptureFileFrames> checked =
                services_.system.openCaptureFile(options_.captureFile);
            fault = checked->isOpen() ? checked->checkWhole({}) : checked->fault();
        }
        if (fault) {
            fail(options_.captureFile + ": " + *fault);
            return nullptr;
        }
        return services_.system.openCaptureFile(options_.captureFile);
    }

    int sniffPackets();
    int rebuildFiles();

    const SniffOptions& options_;
    const SniffServices& services_;
    std::FILE* out_;
    std::FILE* err_;
    SettingsRecord settings_ = defaultSettings();
    std::string address_;
    std::string untrustedSettings_;
    bool privilegesDropped_ = false;
};

int HeadlessRun::sniffPackets() {
    settings_.applyFilters = options_.applyFilters ? 1 : 0;
    const PublishedSettings published(settings_);
    PacketSnifferState state;
    SlabMemory& memory =
        services_.system.memory != nullptr ? *services_.system.memory : heapSlabMemory();
    PacketTable table(memory, services_.system.flooredMemory != nullptr
                                  ? *services_.system.flooredMemory
                                  : memory);
    PacketFilter filter;
    filter.refresh(options_.applyFilters, settings_);

    // The capture opens first, and every privilege goes with it; only then are the outputs
    // made, as the user who ran the program.
    const bool live = options_.captureFile.empty();
    std::unique_ptr<CaptureFrames> frames;
    std::unique_ptr<ObservedSource> source;
    if (live) {
        source = std::make_unique<ObservedSource>(services_.system.packetSource(),
                                                  [this] { dropPrivileges(); });
        state.capturing.store(true);
        source->createSocket();
        source->bindToInterface(address_);
        if (const std::optional<std::string> reason = openingFault(*source, address_)) {
            return fail(*reason);
        }
        if (const std::optional<int> failed = privilegeFault()) {
            return *failed;
        }
        source->setLargeReceiveBuffer();
    } else {
        frames = openFile();
        if (!frames) {
            return ExitFailed;
        }
    }

    RecordFile records;
    const bool toFile = !options_.recordFile.empty();
    if (toFile) {
        if (const int error = records.create(options_.recordFile); error != 0) {
            return fail(options_.recordFile + ": " + std::strerror(error));
        }
        records.write(SavedListHeader);
    } else if (!options_.quiet) {
        records.useStandardOutput();
    }
    const std::uint64_t startMs = processClockMs();
    const RecordFlags flags =
        recordFlags(options_.data, !toFile && services_.standardOutputIsTerminal);
    std::function<void()> stopStoring;
    std::uint64_t storedCount = 0;
    // How the capture ended, when the store or memory ended it.
    std::string endedBy;
    PacketCaptureContext context{state, table, filter, published,
                                 [&endedBy](const std::string& status) { endedBy = status; }};
    // A live capture shows each packet as it comes; a file's go out in large writes.
    context.stored = [&](std::int32_t slot) {
        if (records.isOpen()) {
            writePacketRecord(records, table.lock().store(), slot, flags);
            if (live) {
                records.writePending();
            }
        }
        if (++storedCount == options_.packetLimit) {
            stopStoring();
        }
    };

    std::uint64_t received = 0;
    std::uint64_t dropped = 0;
    std::uint64_t skipped = 0;
    std::optional<std::string> fault;
    if (!live) {
        stopStoring = [&state] { state.quitting.store(true); };
        const std::shared_ptr<void> watch = services_.watchForStop(stopStoring, options_.seconds);
        const CaptureFileLoad load = loadCaptureFrames(*frames, context, {});
        received = load.read - load.skipped;
        skipped = load.skipped;
        fault = load.fault;
        endedBy = load.endedBy != nullptr ? load.endedBy : "";
    } else {
        announceListening();
        stopStoring = [&source, &state] {
            state.capturing.store(false);
            source->close();
        };
        {
            const std::shared_ptr<void> watch =
                services_.watchForStop(stopStoring, options_.seconds);
            runPacketCapture(*source, context);
        }
        received = source->received.load();
        dropped = source->droppedCount();
    }

    int exitCode = ExitDone;
    if (!options_.pcapFile.empty()) {
        std::atomic<bool> cancel{false};
        const SaveOutcome saved = writeCaptureFile(options_.pcapFile, table, settings_, cancel);
        if (saved.status != SaveStatus::Saved) {
            exitCode = fail(options_.pcapFile + ": the capture file could not be written");
        }
    }
    if (toFile) {
        records.write(savedListTrailer(table.storedCount(), processClockMs() - startMs));
    }
    if (const int error = records.close(); error != 0) {
        exitCode = fail((toFile ? options_.recordFile : std::string("standard output")) + ": " +
                        std::strerror(error));
    }
    if (fault) {
        exitCode = fail(options_.captureFile + ": " + *fault);
    }
    std::fprintf(err_, "%llu packets received, %llu accepted, %llu dropped by the system",
                 static_cast<unsigned long long>(received),
                 static_cast<unsigned long long>(storedCount),
                 static_cast<unsigned long long>(dropped));
    if (skipped > 0) {
        std::fprintf(err_, ", %llu skipped (not IPv4)", static_cast<unsigned long long>(skipped));
    }
    if (endedBy == StatusItemLimit) {
        std::fprintf(err_, "; stopped at the list's limit of %d packets", PacketStoreCapacity);
    } else if (endedBy == StatusMemoryError) {
        std::fprintf(err_, "; stopped when memory ran out");
    }
    std::fputc('\n', err_);
    return exitCode;
}

int HeadlessRun::rebuildFiles() {
    setTextField(settings_.fileOutputDirectory, options_.filesDirectory);
    CaptureFileSource* fileSource = nullptr;
    ObservedSource* observed = nullptr;
    std::unique_ptr<CaptureFrames> frames;
    if (!options_.captureFile.empty()) {
        frames = openFile();
        if (!frames) {
            return ExitFailed;
        }
    }
    FileCapture capture(
        [&]() -> std::unique_ptr<CaptureSource> {
            const bool live = !frames;
            std::unique_ptr<CaptureSource> inner;
            if (frames) {
                auto source = std::make_unique<CaptureFileSource>(std::move(frames));
                fileSource = source.get();
                inner = std::move(source);
            } else {
                inner = services_.system.fileModeSource();
            }
            // A live capture gives up the privileges once open, before the threads start.
            auto source = std::make_unique<ObservedSource>(std::move(inner), [this, live] {
                if (live) {
                    dropPrivileges();
                }
            });
            observed = source.get();
            return source;
        },
        {}, {}, services_.system.memory != nullptr ? *services_.system.memory : heapSlabMemory());
    capture.setAckTimeoutMs(settings_.ackTimeoutMs);
    std::mutex outputGuard;
    capture.setFileWrittenHook([&](const std::string& path, bool incomplete) {
        std::lock_guard<std::mutex> lock(outputGuard);
        // The name of an incomplete file says so.
        (void)incomplete;
        std::fprintf(out_, "%s\n", path.c_str());
        std::fflush(out_);
    });
    capture.start(settings_);
    if (observed == nullptr) {
        return fail("cannot open a capture");
    }
    if (const std::optional<std::string> reason = openingFault(*observed, address_)) {
        return fail(*reason);
    }
    if (const std::optional<int> failed = privilegeFault()) {
        capture.stop();
        return *failed;
    }
    if (fileSource == nullptr) {
        announceListening();
    }
    StopLatch stop;
    {
        const std::shared_ptr<void> watch =
            services_.watchForStop([&stop] { stop.request(); }, options_.seconds);
        // A file's streams are given their time-out to complete after its last datagram.
        std::optional<std::chrono::steady_clock::time_point> exhaustedAt;
        while (!stop.waitFor(CompletionPassPeriod) && capture.captureRunning()) {
            if (fileSource == nullptr || !fileSource->exhausted()) {
                continue;
            }
            const auto now = std::chrono::steady_clock::now();
            if (!exhaustedAt) {
                exhaustedAt = now;
            }
            if (now - *exhaustedAt > 3 * CompletionPassPeriod && capture.filesProcessing() == 0) {
                break;
            }
        }
    }
    const std::uint64_t dropped = capture.droppedCount();
    const std::uint64_t received = observed->received.load();
    const std::optional<std::string> fault =
        fileSource != nullptr ? fileSource->fault() : std::nullopt;
    capture.stop();
    int exitCode = ExitDone;
    if (fault) {
        exitCode = fail(options_.captureFile + ": " + *fault);
    }
    std::fprintf(err_, "%llu packets received, %llu dropped by the system, %d files written",
                 static_cast<unsigned long long>(received),
                 static_cast<unsigned long long>(dropped), capture.filesWritten());
    if (const std::int32_t incomplete = capture.incompleteFiles(); incomplete > 0) {
        std::fprintf(err_, ", %d incomplete", incomplete);
    }
    std::fputc('\n', err_);
    return exitCode;
}

}  // namespace

int runHeadlessSniff(const SniffOptions& options, const SettingsLocation& settings,
                     const SniffServices& services, std::FILE* out, std::FILE* err) {
    if (options.help) {
        std::fputs(SniffHelpText, out);
        return ExitDone;
    }
    return HeadlessRun(options, settings, services, out, err).run();
}

}  // namespace qhs
