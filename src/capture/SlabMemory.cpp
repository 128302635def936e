#include "capture/SlabMemory.h"

#include <cstdlib>

namespace qhs {

namespace {

constexpr std::size_t PageBytes = 4096;

class HeapSlabMemory final : public SlabMemory {
  public:
    // calloc's memory is aligned for any type (16 bytes here), and a block this large comes
    // fresh from the kernel as zero pages it need not write.
    std::uint8_t* obtain(std::size_t bytes) override {
        return static_cast<std::uint8_t*>(std::calloc(bytes, 1));
    }

    bool back(std::uint8_t* slab, std::size_t bytes) override {
        for (std::size_t offset = 0; offset < bytes; offset += PageBytes) {
            static_cast<volatile std::uint8_t*>(slab)[offset] = 0;
        }
        return true;
    }

    void release(std::uint8_t* slab, std::size_t) override { std::free(slab); }
};

}  // namespace

SlabMemory& heapSlabMemory() {
    static HeapSlabMemory memory;
    return memory;
}

}  // namespace qhs
