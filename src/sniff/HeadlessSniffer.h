#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/SettingsRecord.h"
#include "capture/FrameFilter.h"
#include "capture/LocalInterface.h"
#include "capture/SystemServices.h"
#include "sniff/SniffCommand.h"

namespace qhs {

// What a sniffing run from the command line takes from the system.
struct SniffServices {
    SystemServices system;
    // Calls `stop` once, from another thread, on Ctrl-C or a termination request, or when
    // `seconds` have passed (0: never), for as long as the returned object lives.
    std::function<std::shared_ptr<void>(std::function<void()> stop, std::uint32_t seconds)>
        watchForStop;
    // Gives up root and the capabilities for good, as soon as the capture is open (or at
    // once, when a file is read); false when that failed. Empty: nothing to give up.
    std::function<bool()> dropPrivileges;
    // Records on standard output go to a terminal: text data shows only printable ASCII.
    bool standardOutputIsTerminal = false;
    // Compiles a filter expression for a capture file's frames (a live capture's is set by
    // its source).
    FrameFilterCompiler compileFilter;
    // The interfaces -D lists.
    std::function<std::vector<LocalInterface>()> listInterfaces;
};

// Runs Packet Sniffer Mode or File Sniffer Mode without a window, as the options say, over
// the settings of `settings` (which it reads and never writes); a settings file named with
// -settings that others could have written ends the run. Records or the
// names of the files written go to `out`, one-line errors and the summary to `err`. Returns
// the exit code: 0 done, 1 the run failed, 2 a wrong option or filter expression, or an
// output that is the capture file read.
int runHeadlessSniff(const SniffOptions& options, const SettingsLocation& settings,
                     const SniffServices& services, std::FILE* out, std::FILE* err);

}  // namespace qhs
