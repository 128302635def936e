#include "capture/PacketArena.h"

#include <cstring>
#include <new>

namespace qhs {

namespace {

void* heapSlab(std::size_t bytes) {
    return ::operator new (bytes, std::align_val_t{PacketArena::Alignment}, std::nothrow);
}

void freeHeapSlab(void* slab, std::size_t) {
    ::operator delete (slab, std::align_val_t{PacketArena::Alignment});
}

std::size_t aligned(std::size_t bytes) {
    return (bytes + PacketArena::Alignment - 1) & ~(PacketArena::Alignment - 1);
}

}  // namespace

PacketArena::~PacketArena() {
    for (const Slab& slab : slabs_) {
        freeHeapSlab(slab.begin, slab.bytes);
    }
}

std::uint8_t* PacketArena::allocate(std::size_t bytes) {
    const std::size_t needed = aligned(bytes == 0 ? 1 : bytes);
    if (current_ == nullptr || currentBytes_ - used_ < needed) {
        // A datagram never comes near a slab's size, but a larger request still gets a
        // slab of its own.
        const std::size_t slabBytes = needed > SlabBytes ? needed : SlabBytes;
        auto* slab = static_cast<std::uint8_t*>(heapSlab(slabBytes));
        if (slab == nullptr) {
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(slabsGuard_);
        slabs_.push_back({slab, slabBytes});
        current_ = slab;
        currentBytes_ = slabBytes;
        used_ = 0;
    }
    std::uint8_t* const block = current_ + used_;
    used_ += needed;
    return block;
}

void PacketArena::giveBack(const std::uint8_t* block, std::size_t bytes) {
    const std::size_t size = aligned(bytes == 0 ? 1 : bytes);
    if (current_ != nullptr && used_ >= size && block == current_ + used_ - size) {
        used_ -= size;
    }
}

const char* PacketArena::copyText(std::string_view text) {
    auto* copy = reinterpret_cast<char*>(allocate(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = '\0';
    }
    return copy;
}

void PacketArena::releaseSlabs() {
    std::lock_guard<std::mutex> guard(slabsGuard_);
    std::vector<Slab> kept;
    for (const Slab& slab : slabs_) {
        if (slab.begin == current_) {
            kept.push_back(slab);
        } else {
            freeHeapSlab(slab.begin, slab.bytes);
        }
    }
    slabs_.swap(kept);
}

std::size_t PacketArena::slabCount() const {
    std::lock_guard<std::mutex> guard(slabsGuard_);
    return slabs_.size();
}

}  // namespace qhs
