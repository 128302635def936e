#pragma once

#include <cstddef>
#include <cstdint>

namespace qhs {

// Where the packet arena gets its large slabs. The arena backs slabs with memory ahead of
// need on a thread of its own, so that the capture thread does not wait for the kernel to
// hand out (and zero) fresh pages while it writes datagrams into them.
class SlabMemory {
  public:
    virtual ~SlabMemory() = default;

    // `bytes` of zeroed memory aligned to at least 16, or null when memory runs out. The
    // kernel may back it page by page as it is first written.
    virtual std::uint8_t* obtain(std::size_t bytes) = 0;
    // Makes the kernel back the whole of an obtained slab now; false when there is not
    // enough memory for it (the slab is still the caller's to release).
    virtual bool back(std::uint8_t* slab, std::size_t bytes) = 0;
    // Gives back a slab obtain(bytes) returned.
    virtual void release(std::uint8_t* slab, std::size_t bytes) = 0;
    // Lets the system take back the pages of an obtained slab, which stays the caller's; its
    // contents are lost (they may read as zero or as before).
    virtual void discard(std::uint8_t* /*slab*/, std::size_t /*bytes*/) {}
    // Called once on the thread that prepares slabs ahead, before it obtains any.
    virtual void enterPreparingThread() {}
    // Whether memory of `bytes` may be taken now, from here or elsewhere (a buffer of the
    // heap); false means treat it as a failed allocation. Counts it as taken.
    virtual bool allows(std::size_t /*bytes*/) { return true; }
};

// Slabs from the C heap (calloc), backed by writing each page once.
SlabMemory& heapSlabMemory();

}  // namespace qhs
