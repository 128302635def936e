#include "platform/HugePageSlabMemory.h"

#include "platform/ProcessFacts.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14
#endif

namespace qhs {

namespace {

std::size_t pageBytes() {
    static const auto bytes = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return bytes;
}

std::size_t roundedUp(std::size_t bytes, std::size_t unit) {
    return (bytes + unit - 1) / unit * unit;
}

// Slabs are mapped in whole huge pages: a slab of 8,000,000 bytes would otherwise end in 1.7
// MB that no huge page fits, faulted in 4 KiB at a time. A slab smaller than a huge page is
// mapped in ordinary pages, so a small one does not take 2 MiB.
std::size_t wholeHugePages(std::size_t bytes) {
    return bytes < HugePageSlabMemory::HugePageBytes
               ? roundedUp(bytes, pageBytes())
               : roundedUp(bytes, HugePageSlabMemory::HugePageBytes);
}

}  // namespace

std::uint8_t* HugePageSlabMemory::obtain(std::size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX - 2 * HugePageBytes) {
        return nullptr;
    }
    const std::size_t length = wholeHugePages(bytes);
    if (bytes < HugePageBytes) {
        void* mapped =
            ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return mapped == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(mapped);
    }
    // Map a huge page more than needed and cut the ends off, so the slab starts on a huge
    // page boundary and every whole 2 MiB of it can be one huge page.
    const std::size_t mappedLength = length + HugePageBytes;
    void* mapped =
        ::mmap(nullptr, mappedLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t slabStart = roundedUp(start, HugePageBytes);
    if (slabStart > start) {
        ::munmap(mapped, slabStart - start);
    }
    const std::size_t tail = (start + mappedLength) - (slabStart + length);
    if (tail > 0) {
        ::munmap(reinterpret_cast<void*>(slabStart + length), tail);
    }
    auto* slab = reinterpret_cast<std::uint8_t*>(slabStart);
    ::madvise(slab, length, MADV_HUGEPAGE);  // a refusal only means ordinary pages
    return slab;
}

bool HugePageSlabMemory::back(std::uint8_t* slab, std::size_t bytes) {
    const std::size_t length = roundedUp(bytes, pageBytes());
    // A huge page at a time: populating holds the process's memory map lock, and a thread
    // that faults or maps meanwhile waits for it.
    for (std::size_t offset = 0; offset < length; offset += HugePageBytes) {
        const std::size_t step = std::min(HugePageBytes, length - offset);
        if (::madvise(slab + offset, step, MADV_POPULATE_WRITE) == 0) {
            continue;
        }
        if (errno != EINVAL) {
            return false;  // ENOMEM and the like: no memory to back it
        }
        // An older kernel: one write a page backs it just the same.
        for (std::size_t page = offset; page < offset + step; page += pageBytes()) {
            static_cast<volatile std::uint8_t*>(slab)[page] = 0;
        }
    }
    return true;
}

void HugePageSlabMemory::release(std::uint8_t* slab, std::size_t bytes) {
    if (slab != nullptr) {
        ::munmap(slab, wholeHugePages(bytes));
    }
}

void HugePageSlabMemory::discard(std::uint8_t* slab, std::size_t bytes) {
    // The mapping stays; its pages go back and read as zero when next touched.
    if (slab != nullptr) {
        ::madvise(slab, wholeHugePages(bytes), MADV_DONTNEED);
    }
}

void HugePageSlabMemory::enterPreparingThread() {
    lowerThreadPriorityFar();
}

SlabMemory& hugePageSlabMemory() {
    static HugePageSlabMemory memory;
    return memory;
}

}  // namespace qhs
