#include "sniff/HeadlessSniffer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "analysis/DatagramView.h"
#include "app/ProcessClock.h"
#include "app/PublishedSettings.h"
#include "app/SettingsRecord.h"
#include "app/WorkerThread.h"
#include "capture/CaptureFileSource.h"
#include "filemode/FileCapture.h"
#include "filemode/FileCaptureLoop.h"
#include "filemode/StreamCompletion.h"
#include "packetmode/CaptureFileExport.h"
#include "packetmode/PacketJson.h"
#include "packetmode/PacketListSave.h"
#include "packetmode/PacketRecord.h"
#include "packetmode/PacketSession.h"
#include "packetmode/RecordFile.h"

namespace qhs {

namespace {

constexpr int ExitDone = 0;
constexpr int ExitFailed = 1;
constexpr int ExitWrongOption = 2;

// A source that tells how opening it went and counts what it delivered, so the run can act
// on the opening and say how much it received. It opens on the command line's interface and
// filter expression.
class ObservedSource final : public CaptureSource {
  public:
    // `opened` runs once the capture is open (or failed to open), on the opening thread,
    // before the capture thread starts.
    ObservedSource(std::unique_ptr<CaptureSource> inner, std::atomic<std::uint64_t>& received,
                   std::function<void(const OpenOutcome&)> opened, const SniffOptions& chosen)
        : inner_(std::move(inner)),
          received_(received),
          opened_(std::move(opened)),
          interfaceName_(chosen.interfaceAddress),
          filterExpression_(chosen.filterExpression) {}

    OpenOutcome open(const CaptureOptions& options) override {
        CaptureOptions amended = options;
        amended.interfaceName = interfaceName_;
        amended.filterExpression = filterExpression_;
        const OpenOutcome opening = inner_->open(amended);
        opened_(opening);
        return opening;
    }
    ReceiveResult receive(const DatagramVisitor& visit) override {
        const ReceiveResult result = inner_->receive(visit);
        if (result.ok) {
            received_.fetch_add(1, std::memory_order_relaxed);
        }
        return result;
    }
    void close() override { inner_->close(); }
    std::uint64_t droppedCount() const override { return inner_->droppedCount(); }

  private:
    std::unique_ptr<CaptureSource> inner_;
    std::atomic<std::uint64_t>& received_;
    std::function<void(const OpenOutcome&)> opened_;
    std::string interfaceName_;
    std::string filterExpression_;
};

// Whether the command line's interface is an IPv4 address rather than a name or index.
bool isDottedAddress(const std::string& text) {
    return text.find('.') != std::string::npos &&
           text.find_first_not_of("0123456789.") == std::string::npos;
}

// The one-line reason a source could not be opened, or nothing when it was. `named`: the
// command line gave the interface by name or index, not by address.
std::optional<std::string> openingFault(const OpenOutcome& opening, const std::string& address,
                                        bool named) {
    switch (opening.status) {
        case OpenStatus::Opened:
            return std::nullopt;
        case OpenStatus::NoPermission:
            return "no permission to capture: run as root, or as a member of the group "
                   "quillharbour-capture (see the README)";
        case OpenStatus::NoSuchInterface:
            if (!named) {
                return "no interface that is up owns the address \"" + address + "\"";
            }
            return address.find_first_not_of("0123456789") == std::string::npos
                       ? "no interface that is up has the index " + address
                       : "no interface that is up is named \"" + address + "\"";
        case OpenStatus::BadFilter:
            return opening.message;
        case OpenStatus::OtherError:
            break;
    }
    return "cannot capture on " + address + ": error " + std::to_string(opening.errorCode);
}

RecordFlags recordFlags(SniffData data, bool forTerminal) {
    RecordFlags flags;
    flags.forTerminal = forTerminal;
    flags.text = data == SniffData::Text;
    flags.dec = data == SniffData::Dec;
    flags.hex = data == SniffData::Hex;
    return flags;
}

// One file written as one line of JSON, for the same databases as the packets' records.
std::string writtenFileJson(const WrittenFile& file) {
    std::string line = "{\"path\":";
    appendJsonString(line, file.path);
    line += ",\"size\":" + std::to_string(file.size);
    line += ",\"client\":";
    appendJsonString(line, file.clientAddress);
    line += ",\"client_port\":" + std::to_string(file.clientPort);
    line += ",\"server\":";
    appendJsonString(line, file.serverAddress);
    line += ",\"server_port\":" + std::to_string(file.serverPort);
    line += ",\"content_type\":";
    appendJsonString(line, file.contentType);
    line += file.incomplete ? ",\"incomplete\":true}\n" : ",\"incomplete\":false}\n";
    return line;
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
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return requested_; });
    }
    // Waits up to `period`; true once a stop was requested.
    bool waitFor(std::chrono::milliseconds period) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, period, [this] { return requested_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
};

// Where a Packet Sniffer run writes each packet as it passes: the records (on standard output
// or as a saved list in a file, or JSON Lines in either), and the pcap file. The capturing
// thread writes; the main thread flushes what waits at least once a second.
class PacketOutputs {
  public:
    PacketOutputs(const SniffOptions& options, bool standardOutputIsTerminal)
        : options_(options),
          recordsToFile_(!options.recordFile.empty()),
          pcapToStandardOutput_(options.pcapFile == "-"),
          flags_(recordFlags(options.data, !recordsToFile_ && standardOutputIsTerminal)) {
        // Text tools read standard output: lines end with "\n"; a file is a saved list.
        flags_.unixLines = !recordsToFile_;
    }

    // Makes the outputs; the first failure as "FILE: reason".
    std::optional<std::string> open() {
        if (recordsToFile_) {
            if (const int error = records_.create(options_.recordFile); error != 0) {
                return options_.recordFile + ": " + std::strerror(error);
            }
            if (!options_.json) {
                records_.write(SavedListHeader);
            }
        } else if (!options_.quiet && !pcapToStandardOutput_) {
            records_.useStandardOutput();
        }
        if (!options_.pcapFile.empty()) {
            if (const int error = pcap_.create(options_.pcapFile); error != 0) {
                return options_.pcapFile + ": " + std::strerror(error);
            }
        }
        return std::nullopt;
    }

    // Writes one packet; false once standard output is gone (its reader left) or the pcap file
    // cannot hold the packet, which ends the run as a stop does.
    bool write(const PassedPacket& packet, bool flushRecords) {
        const std::lock_guard<std::mutex> lock(guard_);
        if (records_.isOpen()) {
            if (options_.json) {
                appendPacketJson(records_.pending(), packet.datagram, packet.originalLength,
                                 packet.arrivalNanoseconds, options_.data != SniffData::Heading);
                records_.commit();
            } else {
                writePacketRecord(records_, packet.datagram, packet.timeText, flags_);
            }
            if (flushRecords) {
                records_.writePending();
            }
        }
        // A packet the pcap file cannot hold ends the run, as a failed write would.
        if (pcap_.isOpen() && pcap_.append(packet.datagram, packet.originalLength,
                                           packet.arrivalNanoseconds) == EOVERFLOW) {
            return false;
        }
        return !standardOutputGone();
    }

    void flush() {
        const std::lock_guard<std::mutex> lock(guard_);
        records_.writePending();
        pcap_.flush();
    }

    // Ends the files; the failures, each as "FILE: reason".
    std::vector<std::string> close(std::int32_t packets, std::uint64_t elapsedMs) {
        const std::lock_guard<std::mutex> lock(guard_);
        std::vector<std::string> failures;
        if (recordsToFile_ && !options_.json) {
            records_.write(savedListTrailer(packets, elapsedMs));
        }
        const int recordsError = records_.close();
        const int pcapError = pcap_.close();
        // A reader of standard output that left (head, less) ends the run; it is no failure.
        if (recordsError != 0 && !(recordsError == EPIPE && !recordsToFile_)) {
            failures.push_back((recordsToFile_ ? options_.recordFile : "standard output") +
                               std::string(": ") + std::strerror(recordsError));
        }
        if (!pcap_.refusal().empty()) {
            failures.push_back(options_.pcapFile + ": " + pcap_.refusal());
        }
        if (pcapError != 0 && !(pcapError == EPIPE && pcapToStandardOutput_)) {
            failures.push_back(
                (pcapToStandardOutput_ ? std::string("standard output") : options_.pcapFile) +
                ": " + std::strerror(pcapError));
        }
        return failures;
    }

  private:
    bool standardOutputGone() const {
        return (!recordsToFile_ && records_.error() == EPIPE) ||
               (pcapToStandardOutput_ && pcap_.error() == EPIPE);
    }

    const SniffOptions& options_;
    const bool recordsToFile_;
    const bool pcapToStandardOutput_;
    RecordFlags flags_;
    std::mutex guard_;
    RecordFile records_;
    PcapStreamWriter pcap_;
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
        named_ = !options.interfaceAddress.empty() && !isDottedAddress(options.interfaceAddress);
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
    int fail(const std::string& message, int exitCode = ExitFailed) {
        std::fprintf(err_, "QuillharbourSnifferV1.5: %s\n", message.c_str());
        return exitCode;
    }
    // A filter expression libpcap refused is a wrong option, as tcpdump takes it.
    int failOpening(const OpenOutcome& opening, const std::string& reason) {
        return fail(reason, opening.status == OpenStatus::BadFilter ? ExitWrongOption : ExitFailed);
    }

    // A capture file's frames pass the filter expression before anything else sees them.
    CaptureFileOpener fileOpener() const {
        if (options_.filterExpression.empty()) {
            return services_.system.openCaptureFile;
        }
        return [this](const std::string& path) -> std::unique_ptr<CaptureFileFrames> {
            return std::make_unique<FilteredCaptureFrames>(services_.system.openCaptureFile(path),
                                                           options_.filterExpression,
                                                           services_.compileFilter);
        };
    }
    // An expression that does not compile ends the run before any output is made. It is
    // tried on Ethernet frames, as the file is read only once (it may be a pipe); frames of a
    // link type it does not suit are passed over as it is read.
    std::optional<int> fileFilterFault() {
        if (options_.filterExpression.empty()) {
            return std::nullopt;
        }
        if (!services_.compileFilter) {
            return fail("no filter expressions can be compiled here", ExitWrongOption);
        }
        constexpr int EthernetLinkType = 1;
        const FrameFilterCompile compiled =
            services_.compileFilter(options_.filterExpression, EthernetLinkType);
        if (compiled.filter) {
            return std::nullopt;
        }
        return fail(compiled.error, ExitWrongOption);
    }

    int failLostCapture(long errorCode) {
        return fail("the capture on " + address_ +
                    " ended: " + std::strerror(static_cast<int>(errorCode)));
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
    std::unique_ptr<CaptureFrames> openFile(int& exitCode) {
        exitCode = ExitFailed;
        dropPrivileges();
        if (privilegeFault()) {
            return nullptr;
        }
        if (const std::optional<int> failed = fileFilterFault()) {
            exitCode = *failed;
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
        return fileOpener()(options_.captureFile);
    }

    int sniffPackets();
    int rebuildFiles();

    const SniffOptions& options_;
    const SniffServices& services_;
    std::FILE* out_;
    std::FILE* err_;
    SettingsRecord settings_ = defaultSettings();
    std::string address_;
    bool named_ = false;  // -i gave a name or an index
    std::string untrustedSettings_;
    bool privilegesDropped_ = false;
};

int HeadlessRun::sniffPackets() {
    settings_.applyFilters = options_.applyFilters ? 1 : 0;
    PublishedSettings published(settings_);
    const bool live = options_.captureFile.empty();
    PacketOutputs outputs(options_, services_.standardOutputIsTerminal);
    // The outputs are made only once every privilege is gone, as the user who ran the program.
    std::optional<int> outputFault;
    const auto openOutputs = [&] {
        if (const std::optional<int> failed = privilegeFault()) {
            outputFault = failed;
        } else if (const std::optional<std::string> failure = outputs.open()) {
            outputFault = fail(*failure);
        }
        return !outputFault;
    };

    std::atomic<std::uint64_t> received{0};
    SystemServices system = services_.system;
    // The new-packet sound is the window's.
    system.makeSoundPlayer = nullptr;
    system.openCaptureFile = fileOpener();
    // A live capture gives up every privilege the moment it is open, before its thread starts.
    system.captureSource = [&] {
        return std::make_unique<ObservedSource>(
            services_.system.captureSource(), received,
            [&](const OpenOutcome& opening) {
                dropPrivileges();
                if (opening.opened()) {
                    openOutputs();
                }
            },
            options_);
    };
    StopLatch stop;
    std::uint64_t passedCount = 0;
    std::optional<long> lostError;
    PacketSession* running = nullptr;
    const std::function<void()> stopPassing = [&] {
        if (live) {
            running->state().capturing.store(false);
        } else {
            running->state().quitting.store(true);
        }
        stop.request();
    };
    PacketSessionReports reports;
    reports.status = [&](const std::string& status) {
        if (status.rfind(StatusStopped, 0) == 0) {
            stop.request();
        }
    };
    reports.lost = [&](long errorCode) { lostError = errorCode; };
    // Nothing is kept: each packet is written as it passes, so memory stays flat however long
    // the run. A live capture shows each one at once; a file's go out in large writes.
    reports.passed = [&](const PassedPacket& packet) {
        if (options_.packetLimit != 0 && passedCount >= options_.packetLimit) {
            return;
        }
        ++passedCount;
        if (!outputs.write(packet, live) || passedCount == options_.packetLimit) {
            stopPassing();
        }
    };
    PacketSession session(published, system, reports);
    running = &session;
    session.filter().refresh(options_.applyFilters, settings_);
    const std::uint64_t startMs = processClockMs();

    std::uint64_t skipped = 0;
    std::optional<std::string> fault;
    WorkerThread reader;
    std::optional<CaptureFileRead> read;
    if (live) {
        const PacketCaptureStart started = session.start();
        if (const std::optional<std::string> reason =
                openingFault(started.opening, address_, named_)) {
            session.stop();
            return failOpening(started.opening, *reason);
        }
        if (outputFault) {
            session.stop();
            return *outputFault;
        }
        announceListening();
    } else {
        // Reading a file needs no privilege, so every one goes first.
        dropPrivileges();
        if (const std::optional<int> failed = privilegeFault()) {
            return *failed;
        }
        if (const std::optional<int> failed = fileFilterFault()) {
            return *failed;
        }
        reader.start([&] {
            CaptureFileReadHooks hooks;
            // Read once, as it comes (a pipe cannot be read twice): every whole packet before
            // any damage is written, then the damage is named.
            hooks.checkFirst = false;
            hooks.proceed = [&](std::int32_t) { return openOutputs(); };
            read = session.readCaptureFile(options_.captureFile, hooks);
            stop.request();
        });
    }
    {
        const std::shared_ptr<void> watch = services_.watchForStop(stopPassing, options_.seconds);
        while (!stop.waitFor(std::chrono::seconds(1))) {
            outputs.flush();
        }
    }
    if (live) {
        session.stop();
    } else {
        reader.join();
        if (!read->load) {
            return read->fault ? fail(options_.captureFile + ": " + *read->fault) : *outputFault;
        }
        received = read->load->read - read->load->skipped;
        skipped = read->load->skipped;
        fault = read->fault;
    }

    int exitCode = ExitDone;
    for (const std::string& failure :
         outputs.close(static_cast<std::int32_t>(passedCount), processClockMs() - startMs)) {
        exitCode = fail(failure);
    }
    if (fault) {
        exitCode = fail(options_.captureFile + ": " + *fault);
    }
    if (lostError) {
        exitCode = failLostCapture(*lostError);
    }
    std::fprintf(err_, "%llu packets received, %llu accepted, %llu dropped by the system",
                 static_cast<unsigned long long>(received.load()),
                 static_cast<unsigned long long>(passedCount),
                 static_cast<unsigned long long>(session.droppedCount()));
    if (skipped > 0) {
        std::fprintf(err_, ", %llu skipped (not IP)", static_cast<unsigned long long>(skipped));
    }
    std::fputc('\n', err_);
    return exitCode;
}

int HeadlessRun::rebuildFiles() {
    setTextField(settings_.fileOutputDirectory, options_.filesDirectory);
    CaptureFileSource* fileSource = nullptr;
    std::atomic<std::uint64_t> received{0};
    std::unique_ptr<CaptureFrames> frames;
    if (!options_.captureFile.empty()) {
        int exitCode = ExitFailed;
        frames = openFile(exitCode);
        if (!frames) {
            return exitCode;
        }
    }
    const bool live = !frames;
    // Outlives the capture, whose threads request it.
    StopLatch stop;
    std::mutex outputGuard;
    FileCapture capture(
        [&]() -> std::unique_ptr<CaptureSource> {
            std::unique_ptr<CaptureSource> inner;
            if (frames) {
                auto source = std::make_unique<CaptureFileSource>(std::move(frames));
                fileSource = source.get();
                inner = std::move(source);
            } else {
                inner = services_.system.captureSource();
            }
            // A live capture gives up the privileges once open, before the threads start.
            return std::make_unique<ObservedSource>(
                std::move(inner), received,
                [this, live](const OpenOutcome&) {
                    if (live) {
                        dropPrivileges();
                    }
                },
                options_);
        },
        // The capture ends by itself at the end of its file, or when its interface is gone.
        [&stop](const std::string& status) {
            if (status == FileStatusStopped) {
                stop.request();
            }
        },
        {}, services_.system.memory != nullptr ? *services_.system.memory : heapSlabMemory());
    capture.setAckTimeoutMs(settings_.ackTimeoutMs);
    // Without -keylog, the key log curl and the browsers are told to write.
    std::string keyLog = options_.tlsKeyLogFile;
    if (const char* const named = std::getenv("SSLKEYLOGFILE"); keyLog.empty() && named) {
        keyLog = named;
    }
    capture.setTlsKeyLogFile(std::move(keyLog));
    capture.setFileWrittenHook([&](const WrittenFile& file) {
        if (options_.quiet) {
            return;
        }
        // The name of an incomplete file says so; its record says it in a field.
        const std::string line = options_.json ? writtenFileJson(file) : file.path + "\n";
        std::lock_guard<std::mutex> lock(outputGuard);
        std::fwrite(line.data(), 1, line.size(), out_);
        std::fflush(out_);
    });
    // Nobody could dismiss a message box: each failure is told at once and the run goes on.
    capture.setFileNotWrittenHook([&](const std::string& where, int error) {
        std::lock_guard<std::mutex> lock(outputGuard);
        fail(where + ": " + std::strerror(error));
        std::fflush(err_);
    });
    std::optional<long> lostError;
    capture.setCaptureLostHook([&lostError](long errorCode) { lostError = errorCode; });
    capture.messages().deliverTo([&](const UserMessage& message) {
        std::string line = message.text;
        std::replace(line.begin(), line.end(), '\r', ' ');
        std::replace(line.begin(), line.end(), '\n', ' ');
        std::lock_guard<std::mutex> lock(outputGuard);
        fail(line);
        std::fflush(err_);
    });
    // A capture file runs on its own time: streams complete as the capture went, and the run
    // ends with the file.
    const FileCaptureStart started = capture.start(
        settings_, live ? FileCaptureClock::Process : FileCaptureClock::DatagramStamps);
    if (const std::optional<std::string> reason = openingFault(started.opening, address_, named_)) {
        return failOpening(started.opening, *reason);
    }
    if (const std::optional<int> failed = privilegeFault()) {
        capture.stop();
        return *failed;
    }
    if (live) {
        announceListening();
    }
    {
        const std::shared_ptr<void> watch =
            services_.watchForStop([&stop] { stop.request(); }, options_.seconds);
        stop.wait();
    }
    const std::uint64_t dropped = capture.droppedCount();
    const std::optional<std::string> fault =
        fileSource != nullptr ? fileSource->fault() : std::nullopt;
    capture.stop();
    int exitCode = capture.filesNotWritten() > 0 ? ExitFailed : ExitDone;
    if (fault) {
        exitCode = fail(options_.captureFile + ": " + *fault);
    }
    if (lostError) {
        exitCode = failLostCapture(*lostError);
    }
    std::fprintf(err_, "%llu packets received, %llu dropped by the system, %d files written",
                 static_cast<unsigned long long>(received.load()),
                 static_cast<unsigned long long>(dropped), capture.filesWritten());
    if (const std::int32_t incomplete = capture.incompleteFiles(); incomplete > 0) {
        std::fprintf(err_, ", %d incomplete", incomplete);
    }
    if (const std::int32_t notWritten = capture.filesNotWritten(); notWritten > 0) {
        std::fprintf(err_, ", %d could not be written", notWritten);
    }
    if (const std::int32_t withoutKey = capture.encryptedWithoutKey(); withoutKey > 0) {
        std::fprintf(err_, ", %d encrypted without a key", withoutKey);
    }
    std::fputc('\n', err_);
    return exitCode;
}

// -D: one line per interface, as tcpdump lists them: "1.lo [Up] 127.0.0.1 ::1".
void listInterfaces(const SniffServices& services, std::FILE* out) {
    if (!services.listInterfaces) {
        return;
    }
    for (const LocalInterface& listed : services.listInterfaces()) {
        std::fprintf(out, "%u.%s [%s]", listed.index, listed.name.c_str(),
                     listed.up ? "Up" : "Down");
        for (const auto* addresses : {&listed.ipv4Addresses, &listed.ipv6Addresses}) {
            for (const std::string& address : *addresses) {
                std::fprintf(out, " %s", address.c_str());
            }
        }
        std::fputc('\n', out);
    }
}

// An output that is the capture file read would be emptied before a frame of it is read.
std::optional<std::string> outputThatIsTheInput(const SniffOptions& options) {
    if (options.captureFile.empty()) {
        return std::nullopt;
    }
    for (const std::string* output :
         {&options.recordFile, &options.pcapFile, &options.filesDirectory}) {
        // The same file by device and inode, whatever the names; an output that does not
        // exist yet is not the input.
        std::error_code unknown;
        if (!output->empty() &&
            std::filesystem::equivalent(options.captureFile, *output, unknown)) {
            return *output + " is the capture file read with -r; it is not overwritten";
        }
    }
    return std::nullopt;
}

}  // namespace

int runHeadlessSniff(const SniffOptions& options, const SettingsLocation& settings,
                     const SniffServices& services, std::FILE* out, std::FILE* err) {
    if (options.help) {
        std::fputs(SniffHelpText, out);
        return ExitDone;
    }
    if (options.version) {
        std::fputs(sniffVersionText().c_str(), out);
        return ExitDone;
    }
    if (options.listInterfaces) {
        listInterfaces(services, out);
        return ExitDone;
    }
    if (const std::optional<std::string> clash = outputThatIsTheInput(options)) {
        std::fprintf(err, "QuillharbourSnifferV1.5: %s\n", clash->c_str());
        return ExitWrongOption;
    }
    return HeadlessRun(options, settings, services, out, err).run();
}

}  // namespace qhs
