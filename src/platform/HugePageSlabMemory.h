#pragma once

#include "platform/PlatformLayer.h"

#include "capture/SlabMemory.h"

namespace qhs {

// Slabs mapped straight from the kernel on 2 MiB boundaries and marked for transparent huge
// pages: one fault per 2 MiB instead of one per 4 KiB page makes backing a gigabyte of
// packets many times cheaper. Without huge pages (switched off, or no free 2 MiB page) the
// same calls back the slab with ordinary pages. The thread that backs slabs ahead runs at
// a low priority, so it never delays the capture thread on a shared core.
class HugePageSlabMemory final : public SlabMemory {
  public:
    static constexpr std::size_t HugePageBytes = std::size_t{2} << 20;

    std::uint8_t* obtain(std::size_t bytes) override;
    bool back(std::uint8_t* slab, std::size_t bytes) override;
    void release(std::uint8_t* slab, std::size_t bytes) override;
    void discard(std::uint8_t* slab, std::size_t bytes) override;
    void enterPreparingThread() override;
};

// The one the program's packet stores use.
SlabMemory& hugePageSlabMemory();

}  // namespace qhs
