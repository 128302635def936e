#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "filemode/SegmentNode.h"

namespace qhs {

inline constexpr int StreamSlotCount = 1000;
// The slot index that stands for "none" (and for a full table in `freeSlot`).
inline constexpr int NoStreamSlot = StreamSlotCount;

// How filing one segment ended.
enum class SegmentFiling {
    Appended,              // added to the stream of its acknowledgement number
    Created,               // started a new stream
    TableFull,             // no stream of that number and no free slot: dropped
    BeyondMaximumSize,     // its stream holds more data than a file may have: dropped
    DataAllocationFailed,  // dropped: no memory for the copy of the datagram
};

struct SegmentFilingResult {
    SegmentFiling outcome = SegmentFiling::Appended;
    bool newStream = false;  // the segment would have started a stream (for the messages)
};

// What one look at a slot by the completion thread found.
enum class SlotState {
    Idle,        // free, or the capture thread is adding to it: not counted
    Live,        // a stream that is still receiving
    Completing,  // a stream past its time-out, now handed to the completion thread
};

// The up to 1000 streams of File Sniffer Mode, keyed by acknowledgement number, shared by
// the file capture thread (which adds segments and creates streams) and the completion
// thread (which completes and frees them).
//
// Every check-and-act step between the two threads runs under one mutex held only for
// that step: never while a datagram is copied, a stream joined or a file written. The
// capture thread marks the slot it works on as `appendingSlot` (and `creatingStream` when
// the slot is new) while it copies the datagram outside the mutex; the completion thread
// passes over that slot. The slot being completed is `completingSlot`; its key is 0, so a
// segment with its number starts a new stream, and it is never chosen as a free slot
// before its segments are released.
class StreamTable {
  public:
    // Large chunks of segments come from `memory`.
    explicit StreamTable(SlabMemory& memory = heapSlabMemory());
    ~StreamTable();
    StreamTable(const StreamTable&) = delete;
    StreamTable& operator=(const StreamTable&) = delete;

    // Releases every stream and makes every slot free, and gives back the memory kept for
    // streams to come. Only while neither thread runs.
    void clear();
    // Sets the counters to 0.
    void resetCounters();
    // A stream whose TCP data passes `bytes` (0: no bound) stops collecting: its segments
    // are released, later ones dropped, and it completes without a file. Before capture.
    void setStreamDataLimit(std::uint64_t bytes) { streamDataLimit_ = bytes; }

    // Capture thread: files a copy of a data segment (`length` bytes, IP header first)
    // into the stream of `streamKey` (the acknowledgement number as its raw 4 bytes,
    // never 0), or starts a stream in the free slot. `now` is the process clock in ms.
    SegmentFilingResult fileSegment(std::uint32_t streamKey, const std::uint8_t* datagram,
                                    std::uint32_t length, std::int64_t now);

    // Completion thread: looks at one slot. A stream whose newest segment is older than
    // `now` minus the time-out becomes the completing slot, and its segments stay
    // readable through completingStream() until finishCompleting().
    SlotState examineSlot(int slot, std::int64_t now, std::int32_t ackTimeoutMs);
    // The first segment (in arrival order) of the slot being completed.
    const SegmentNode* completingStream() const;
    // Releases the completing slot's segments and frees the slot.
    void finishCompleting();

    // Whether a buffer of `bytes` may be taken besides the segments (below the floor, not).
    bool memoryAllows(std::size_t bytes) { return memory_.allows(bytes); }

    // Counters shown by the window every 100 ms.
    std::int32_t filesProcessing() const { return filesProcessing_.load(); }
    std::int32_t filesWritten() const { return filesWritten_.load(); }
    void setFilesProcessing(std::int32_t count) { filesProcessing_.store(count); }
    void countFileWritten() { filesWritten_.fetch_add(1); }
    // Files written although their body was cut short; not among the files written.
    std::int32_t incompleteFiles() const { return incompleteFiles_.load(); }
    void countIncompleteFile() { incompleteFiles_.fetch_add(1); }
    // Streams to be stored whose file could not be written (a write error, a refused name).
    std::int32_t filesNotWritten() const { return filesNotWritten_.load(); }
    void countFileNotWritten() { filesNotWritten_.fetch_add(1); }
    // TLS connections whose data could not be decrypted: no key in the key log, a suite
    // that is not read, or a record that failed its authentication.
    std::int32_t encryptedWithoutKey() const { return encryptedWithoutKey_.load(); }
    void countEncryptedWithoutKey() { encryptedWithoutKey_.fetch_add(1); }

    // Snapshots for tests and diagnostics.
    std::uint32_t streamKey(int slot) const;
    std::int64_t lastSegmentTime(int slot) const;
    std::size_t segmentCount(int slot) const;
    int freeSlot() const;
    int liveStreamCount() const;

  private:
    static std::array<StreamSegments, StreamSlotCount> emptyStreams(SegmentMemory& memory);
    // The lowest free slot other than the completing one, or NoStreamSlot.
    int lowestEmptySlot() const;

    mutable std::mutex mutex_;
    std::array<std::uint32_t, StreamSlotCount> streamKey_{};
    // Milliseconds of the process clock; 0 marks a free slot. Kept as 64 bits so the
    // clock cannot wrap into 0 or into the past while the program runs.
    std::array<std::int64_t, StreamSlotCount> lastSegmentTime_{};
    SegmentMemory memory_;
    // Declared after memory_, which must outlive them.
    std::array<StreamSegments, StreamSlotCount> segments_;
    // TCP data filed into each stream, and whether it passed the limit.
    std::array<std::uint64_t, StreamSlotCount> streamData_{};
    std::array<bool, StreamSlotCount> beyondLimit_{};
    std::uint64_t streamDataLimit_ = 0;
    int freeSlot_ = 0;
    int appendingSlot_ = NoStreamSlot;
    int completingSlot_ = NoStreamSlot;
    bool creatingStream_ = false;

    std::atomic<std::int32_t> filesProcessing_{0};
    std::atomic<std::int32_t> filesWritten_{0};
    std::atomic<std::int32_t> incompleteFiles_{0};
    std::atomic<std::int32_t> filesNotWritten_{0};
    std::atomic<std::int32_t> encryptedWithoutKey_{0};
};

}  // namespace qhs
