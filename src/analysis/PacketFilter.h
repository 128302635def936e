#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "app/Published.h"
#include "app/SettingsRecord.h"

namespace qhs {

struct CompiledFilter;
struct FilterInputs;

// What accept decided for one datagram. The two column texts ("Contains string" and
// "Lacks string") are empty unless a search string was set; they stay valid until the next
// call of accept on the same filter.
struct FilterVerdict {
    bool accepted = false;
    std::string_view containsColumn;
    std::string_view lacksColumn;
};

// The arrival filter of Packet Sniffer Mode.
//
// refresh, reload and setMatchCase (the window thread) compile the filter settings into an
// immutable snapshot and publish it whole; accept (the capture thread, its only caller)
// picks a newly published snapshot up with one atomic load per datagram and otherwise
// works on the one it holds, so it never sees half a list, half a string or half a bound,
// takes no lock in the common case and allocates nothing. The record it compiles is the
// caller's own (the window thread's current record, or a published copy), never one that
// another thread is writing.
class PacketFilter {
  public:
    PacketFilter();
    ~PacketFilter();
    PacketFilter(const PacketFilter&) = delete;
    PacketFilter& operator=(const PacketFilter&) = delete;

    // Takes the apply check box state and the record's filter fields (lists, switches,
    // bounds and the six search strings); accept uses them from its next datagram on.
    void refresh(bool applyFilters, const SettingsRecord& record);
    // The same, keeping the apply switch: the Filter setup dialog's Apply publishes its new
    // filter this way, so it holds from the next datagram on.
    void reload(const SettingsRecord& record);
    // The "Match case for Find and Filters" check box.
    void setMatchCase(bool matchCase);
    bool matchCase() const { return matchCase_.load(std::memory_order_relaxed); }

    // Accept or drop one datagram: `block` holds at least `length` bytes, IP header first.
    // One calling thread at a time (the capture thread).
    FilterVerdict accept(const std::uint8_t* block, std::uint32_t length);

    // A port field's text into a port list: up to 100 runs of decimal digits, each stored
    // modulo 65536; any other character separates numbers; the rest of the list is 0.
    static void parsePortList(std::string_view text, std::uint16_t (&ports)[FilterListLength]);
    // Entries from the first up to the first 0, as unsigned numbers joined by commas.
    static std::string formatPortList(const std::uint16_t (&ports)[FilterListLength]);

  private:
    void update(bool applyFilters, const SettingsRecord& record);

    // Writer side, serialised by writerMutex_.
    std::mutex writerMutex_;
    std::unique_ptr<FilterInputs> inputs_;
    std::atomic<bool> matchCase_{false};

    Published<CompiledFilter> published_;

    // Capture thread side.
    PublishedView<CompiledFilter> held_{published_};
    std::string searchText_;
};

}  // namespace qhs
