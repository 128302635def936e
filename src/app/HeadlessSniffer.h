#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/SniffCommand.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureSource.h"
#include "capture/SlabMemory.h"

namespace qhs {

// What a sniffing run from the command line takes from the system.
struct SniffServices {
    CaptureSourceFactory packetSource;    // a live capture for Packet Sniffer Mode
    CaptureSourceFactory fileModeSource;  // a live capture for File Sniffer Mode
    // Opens a capture file and checks it whole; null, with `fault` set, when it cannot be read.
    std::function<std::unique_ptr<CaptureFrames>(const std::string& path, std::string& fault)>
        openCaptureFile;
    // Calls `stop` once, from another thread, on Ctrl-C or a termination request, or when
    // `seconds` have passed (0: never), for as long as the returned object lives.
    std::function<std::shared_ptr<void>(std::function<void()> stop, std::uint32_t seconds)>
        watchForStop;
    SlabMemory* memory = nullptr;  // the store's memory; null: the heap
    SlabMemory* flooredMemory = nullptr;
};

// Runs Packet Sniffer Mode or File Sniffer Mode without a window, as the options say, over
// the settings file at `settingsPath` (which it reads and never writes). Records or the
// names of the files written go to `out`, one-line errors and the summary to `err`. Returns
// the exit code: 0 done, 1 the run failed, 2 a wrong option.
int runHeadlessSniff(const SniffOptions& options, const std::string& settingsPath,
                     const SniffServices& services, std::FILE* out, std::FILE* err);

}  // namespace qhs
