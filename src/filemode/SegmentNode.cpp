#include "filemode/SegmentNode.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace qhs {

namespace {

constexpr std::size_t Alignment = 16;

constexpr std::size_t aligned(std::size_t bytes) {
    return (bytes + Alignment - 1) & ~(Alignment - 1);
}

}  // namespace

SegmentMemory::SegmentMemory(SlabMemory& slabs) : slabs_(slabs) {
    // Room for every kept chunk now, so keeping one never allocates.
    kept_.reserve(KeptLargeChunks);
}

SegmentMemory::~SegmentMemory() {
    releaseKept();
}

std::uint8_t* SegmentMemory::obtain(std::size_t bytes) {
    if (bytes == LargeChunkBytes) {
        std::lock_guard<std::mutex> guard(keptGuard_);
        if (!kept_.empty()) {
            std::uint8_t* const chunk = kept_.back();
            kept_.pop_back();
            return chunk;
        }
    }
    return slabs_.obtain(bytes);
}

void SegmentMemory::release(std::uint8_t* chunk, std::size_t bytes) {
    if (chunk == nullptr) {
        return;
    }
    if (bytes == LargeChunkBytes) {
        std::lock_guard<std::mutex> guard(keptGuard_);
        if (kept_.size() < KeptLargeChunks && kept_.capacity() >= KeptLargeChunks) {
            kept_.push_back(chunk);
            return;
        }
    }
    slabs_.release(chunk, bytes);
}

void SegmentMemory::releaseKept() {
    std::vector<std::uint8_t*> released;
    {
        std::lock_guard<std::mutex> guard(keptGuard_);
        released.assign(kept_.begin(), kept_.end());
        kept_.clear();
    }
    for (std::uint8_t* chunk : released) {
        slabs_.release(chunk, LargeChunkBytes);
    }
}

std::size_t SegmentMemory::keptChunkCount() const {
    std::lock_guard<std::mutex> guard(keptGuard_);
    return kept_.size();
}

StreamSegments::StreamSegments(StreamSegments&& other) noexcept
    : memory_(other.memory_),
      newestChunk_(std::exchange(other.newestChunk_, nullptr)),
      cursor_(std::exchange(other.cursor_, nullptr)),
      bytesLeft_(std::exchange(other.bytesLeft_, 0)),
      first_(std::exchange(other.first_, nullptr)),
      last_(std::exchange(other.last_, nullptr)) {}

StreamSegments& StreamSegments::operator=(StreamSegments&& other) noexcept {
    if (this != &other) {
        release();
        memory_ = other.memory_;
        newestChunk_ = std::exchange(other.newestChunk_, nullptr);
        cursor_ = std::exchange(other.cursor_, nullptr);
        bytesLeft_ = std::exchange(other.bytesLeft_, 0);
        first_ = std::exchange(other.first_, nullptr);
        last_ = std::exchange(other.last_, nullptr);
    }
    return *this;
}

bool StreamSegments::append(const std::uint8_t* datagram, std::uint32_t length) {
    const std::size_t needed = aligned(sizeof(SegmentNode)) + aligned(length);
    if (bytesLeft_ < needed) {
        // Each chunk is four times the one before, up to the large size.
        const std::size_t grown =
            newestChunk_ == nullptr ? SegmentMemory::SmallestChunkBytes : newestChunk_->bytes * 4;
        const std::size_t header = aligned(sizeof(ChunkHeader));
        const std::size_t bytes =
            std::max(std::min(grown, SegmentMemory::LargeChunkBytes), header + needed);
        std::uint8_t* const chunk = memory_->obtain(bytes);
        if (chunk == nullptr) {
            return false;
        }
        newestChunk_ = new (chunk) ChunkHeader{newestChunk_, bytes};
        cursor_ = chunk + header;
        bytesLeft_ = bytes - header;
    }
    auto* const node = new (cursor_) SegmentNode;
    auto* const data = cursor_ + aligned(sizeof(SegmentNode));
    if (length > 0) {
        std::memcpy(data, datagram, length);
    }
    node->length = length;
    node->data = data;
    cursor_ += needed;
    bytesLeft_ -= needed;
    (last_ != nullptr ? last_->next : first_) = node;
    last_ = node;
    return true;
}

void StreamSegments::release() {
    while (newestChunk_ != nullptr) {
        ChunkHeader* const previous = newestChunk_->previous;
        memory_->release(reinterpret_cast<std::uint8_t*>(newestChunk_), newestChunk_->bytes);
        newestChunk_ = previous;
    }
    cursor_ = nullptr;
    bytesLeft_ = 0;
    first_ = nullptr;
    last_ = nullptr;
}

}  // namespace qhs
