#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "app/SettingsRecord.h"
#include "capture/ReceiveBuffer.h"

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
// refresh and setMatchCase (status and window threads) compile the filter settings into an
// immutable snapshot and publish it whole; accept (the capture thread, its only caller)
// picks a newly published snapshot up with one atomic load per datagram and otherwise
// works on the one it holds, so it never sees half a list, half a string or half a bound,
// takes no lock in the common case and allocates nothing. The Filter setup dialog holds
// recordGuard() while it writes the record's filter fields, so refresh copies whole values.
class PacketFilter {
  public:
    PacketFilter();
    ~PacketFilter();
    PacketFilter(const PacketFilter&) = delete;
    PacketFilter& operator=(const PacketFilter&) = delete;

    // Takes the apply check box state and the record's filter fields (lists, switches,
    // bounds and the six search strings); accept uses them from its next datagram on.
    // Takes recordGuard() while it copies the fields.
    void refresh(bool applyFilters, const SettingsRecord& record);
    // The same, keeping the apply switch: for the Filter setup dialog after Apply (with the
    // guard released), so the new settings hold from the next datagram on.
    void reload(const SettingsRecord& record);
    // The "Match case for Find and Filters" check box.
    void setMatchCase(bool matchCase);
    bool matchCase() const { return matchCase_.load(std::memory_order_relaxed); }

    // Held by whoever writes the record's filter fields while capture may run.
    std::mutex& recordGuard() { return recordGuard_; }

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
    void publish(std::shared_ptr<const CompiledFilter> compiled);
    void pickUpPublished();

    // Writer side, serialised by writerMutex_.
    std::mutex writerMutex_;
    std::unique_ptr<FilterInputs> inputs_;
    std::atomic<bool> matchCase_{false};

    std::mutex recordGuard_;

    // Hand-over: the latest snapshot under publishMutex_, announced by publishedVersion_.
    std::mutex publishMutex_;
    std::shared_ptr<const CompiledFilter> published_;
    std::atomic<std::uint64_t> publishedVersion_{0};

    // Capture thread side.
    std::shared_ptr<const CompiledFilter> held_;
    std::uint64_t heldVersion_ = 0;
    std::string searchText_;
};

}  // namespace qhs
