#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "capture/SlabMemory.h"

namespace qhs {

// One captured TCP data segment: the whole datagram, IP header first, linked to the next
// segment of the same stream in order of arrival. The memory belongs to its stream.
struct SegmentNode {
    std::uint32_t length = 0;
    const std::uint8_t* data = nullptr;
    SegmentNode* next = nullptr;
};

// Chunks for the segments of streams, from slab memory (huge pages for the large ones in the
// program, refused below the memory floor). A stream's first chunks are small, so a
// thousand small streams stay small; a long stream goes on in large chunks. Backing fresh
// memory is what a capture thread spends most of its time on, so large chunks that streams
// give back are kept for the next ones, up to KeptLargeChunks, until releaseKept().
//
// Any thread; the capture thread obtains, the completion thread releases.
class SegmentMemory {
  public:
    static constexpr std::size_t SmallestChunkBytes = std::size_t{64} << 10;
    static constexpr std::size_t LargeChunkBytes = std::size_t{4} << 20;
    static constexpr std::size_t KeptLargeChunks = 16;

    explicit SegmentMemory(SlabMemory& slabs = heapSlabMemory());
    ~SegmentMemory();
    SegmentMemory(const SegmentMemory&) = delete;
    SegmentMemory& operator=(const SegmentMemory&) = delete;

    // At least `bytes` (aligned to 16), or null when memory runs out.
    std::uint8_t* obtain(std::size_t bytes);
    // Whether a buffer of `bytes` from elsewhere may be taken (the joined copy of a stream).
    bool allows(std::size_t bytes) { return slabs_.allows(bytes); }
    // Gives back a chunk obtain(bytes) returned.
    void release(std::uint8_t* chunk, std::size_t bytes);
    // Gives the kept large chunks back to the system.
    void releaseKept();
    std::size_t keptChunkCount() const;

  private:
    SlabMemory& slabs_;
    mutable std::mutex keptGuard_;
    std::vector<std::uint8_t*> kept_;
};

// The segments of one stream, copied in order of arrival into chunks of its own that grow
// from SmallestChunkBytes to LargeChunkBytes: no allocation per segment, and all of a
// stream's memory goes back at once.
class StreamSegments {
  public:
    explicit StreamSegments(SegmentMemory& memory) : memory_(&memory) {}
    ~StreamSegments() { release(); }
    StreamSegments(StreamSegments&& other) noexcept;
    StreamSegments& operator=(StreamSegments&& other) noexcept;
    StreamSegments(const StreamSegments&) = delete;
    StreamSegments& operator=(const StreamSegments&) = delete;

    // Appends a copy of a datagram of `length` bytes; false (nothing appended) when there is
    // no memory for it.
    bool append(const std::uint8_t* datagram, std::uint32_t length);
    const SegmentNode* first() const { return first_; }
    bool empty() const { return first_ == nullptr; }
    // Gives every chunk back; the stream is empty afterwards.
    void release();

  private:
    // At the start of each chunk, linking it to the one before.
    struct ChunkHeader {
        ChunkHeader* previous;
        std::size_t bytes;
    };

    SegmentMemory* memory_;
    ChunkHeader* newestChunk_ = nullptr;
    std::uint8_t* cursor_ = nullptr;
    std::size_t bytesLeft_ = 0;
    SegmentNode* first_ = nullptr;
    SegmentNode* last_ = nullptr;
};

}  // namespace qhs
