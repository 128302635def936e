#include "capture/SlabMemory.h"

#include <new>

namespace qhs {

namespace {

constexpr std::size_t SlabAlignment = 16;
constexpr std::size_t PageBytes = 4096;

class HeapSlabMemory final : public SlabMemory {
  public:
    std::uint8_t* obtain(std::size_t bytes) override {
        return static_cast<std::uint8_t*>(
            ::operator new (bytes, std::align_val_t{SlabAlignment}, std::nothrow));
    }

    bool back(std::uint8_t* slab, std::size_t bytes) override {
        for (std::size_t offset = 0; offset < bytes; offset += PageBytes) {
            static_cast<volatile std::uint8_t*>(slab)[offset] = 0;
        }
        return true;
    }

    void release(std::uint8_t* slab, std::size_t) override {
        ::operator delete (slab, std::align_val_t{SlabAlignment});
    }
};

}  // namespace

SlabMemory& heapSlabMemory() {
    static HeapSlabMemory memory;
    return memory;
}

}  // namespace qhs
