#include "capture/PacketArena.h"

#include <cstring>

namespace qhs {

namespace {

std::size_t aligned(std::size_t bytes) {
    return (bytes + PacketArena::Alignment - 1) & ~(PacketArena::Alignment - 1);
}

}  // namespace

PacketArena::PacketArena(SlabMemory& memory) : memory_(memory) {}

PacketArena::~PacketArena() {
    {
        std::lock_guard<std::mutex> guard(readyGuard_);
        stopping_ = true;
    }
    readyWanted_.notify_all();
    preparer_.join();
    for (const Slab& slab : ready_) {
        memory_.release(slab.begin, slab.bytes);
    }
    for (const Slab& slab : slabs_) {
        memory_.release(slab.begin, slab.bytes);
    }
}

void PacketArena::prepareAhead() {
    std::lock_guard<std::mutex> guard(readyGuard_);
    startPreparing();
}

void PacketArena::startPreparing() {
    if (!preparer_.started()) {
        preparer_.start([this] { prepareSlabs(); });
    }
}

PacketArena::Slab PacketArena::nextSlab(std::size_t bytes) {
    if (bytes <= SlabBytes) {
        std::unique_lock<std::mutex> guard(readyGuard_);
        startPreparing();
        memoryRanOut_ = false;
        if (!ready_.empty()) {
            const Slab slab = ready_.front();
            ready_.erase(ready_.begin());
            guard.unlock();
            readyWanted_.notify_one();
            return slab;
        }
        guard.unlock();
        readyWanted_.notify_one();
    }
    // None ready, or a request larger than a slab (a datagram never comes near one): obtain
    // it here and now, and let the kernel back it as the blocks are written, a few pages
    // at a time rather than all at once.
    const std::size_t slabBytes = bytes > SlabBytes ? bytes : SlabBytes;
    return {memory_.obtain(slabBytes), slabBytes};
}

void PacketArena::prepareSlabs() {
    memory_.enterPreparingThread();
    std::unique_lock<std::mutex> guard(readyGuard_);
    for (;;) {
        readyWanted_.wait(
            guard, [this] { return stopping_ || (ready_.size() < ReadySlabs && !memoryRanOut_); });
        if (stopping_) {
            return;
        }
        guard.unlock();
        std::uint8_t* slab = memory_.obtain(SlabBytes);
        if (slab != nullptr && !memory_.back(slab, SlabBytes)) {
            memory_.release(slab, SlabBytes);
            slab = nullptr;
        }
        guard.lock();
        if (slab == nullptr) {
            memoryRanOut_ = true;
        } else {
            ready_.push_back({slab, SlabBytes});
        }
    }
}

std::uint8_t* PacketArena::allocate(std::size_t bytes) {
    const std::size_t needed = aligned(bytes == 0 ? 1 : bytes);
    if (current_ == nullptr || currentBytes_ - used_ < needed) {
        const Slab slab = nextSlab(needed);
        if (slab.begin == nullptr) {
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(slabsGuard_);
        slabs_.push_back(slab);
        current_ = slab.begin;
        currentBytes_ = slab.bytes;
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
            memory_.release(slab.begin, slab.bytes);
        }
    }
    slabs_.swap(kept);
}

std::size_t PacketArena::slabCount() const {
    std::lock_guard<std::mutex> guard(slabsGuard_);
    return slabs_.size();
}

std::size_t PacketArena::readySlabCount() const {
    std::lock_guard<std::mutex> guard(readyGuard_);
    return ready_.size();
}

}  // namespace qhs
