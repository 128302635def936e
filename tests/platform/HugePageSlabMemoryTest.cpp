#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/HugePageSlabMemory.h"

namespace qhs {
namespace {

std::size_t pageBytes() {
    return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// How many pages of the range are resident, or -1 when part of it is not mapped.
long residentPages(const std::uint8_t* begin, std::size_t bytes) {
    std::vector<unsigned char> pages((bytes + pageBytes() - 1) / pageBytes());
    if (::mincore(const_cast<std::uint8_t*>(begin), bytes, pages.data()) != 0) {
        return -1;
    }
    long resident = 0;
    for (const unsigned char page : pages) {
        resident += page & 1;
    }
    return resident;
}

TEST(HugePageSlabMemory, SlabsStartOnAHugePageAndAreBackedOnlyWhenAsked) {
    HugePageSlabMemory memory;
    const std::size_t bytes = 5 * HugePageSlabMemory::HugePageBytes + 3;
    std::uint8_t* slab = memory.obtain(bytes);
    ASSERT_NE(slab, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(slab) % HugePageSlabMemory::HugePageBytes, 0u);
    EXPECT_EQ(residentPages(slab, bytes), 0) << "obtaining alone takes no memory yet";

    ASSERT_TRUE(memory.back(slab, bytes));
    const long pages = static_cast<long>((bytes + pageBytes() - 1) / pageBytes());
    EXPECT_EQ(residentPages(slab, bytes), pages) << "every page backed, the partial last one too";
    EXPECT_EQ(slab[0], 0);
    EXPECT_EQ(slab[bytes - 1], 0);
    slab[0] = 1;
    slab[bytes - 1] = 2;

    memory.release(slab, bytes);
    errno = 0;
    EXPECT_EQ(residentPages(slab, bytes), -1) << "released slabs are unmapped";
    EXPECT_EQ(errno, ENOMEM);
}

long hugePageFallbacks() {
    std::ifstream counters("/proc/vmstat");
    std::string name;
    long value = 0;
    while (counters >> name >> value) {
        if (name == "thp_fault_fallback") {
            return value;
        }
    }
    return -1;
}

TEST(HugePageSlabMemory, TheEndOfASlabOfNoWholeHugePagesStillFaultsInAHugePage) {
    std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes((std::istreambuf_iterator<char>(setting)), std::istreambuf_iterator<char>());
    if (modes.empty() || modes.find("[never]") != std::string::npos) {
        GTEST_SKIP() << "no transparent huge pages on this machine";
    }
    HugePageSlabMemory memory;
    const std::size_t bytes = 8'000'000;  // a million slot values: 3.8 huge pages
    std::uint8_t* slab = memory.obtain(bytes);
    ASSERT_NE(slab, nullptr);
    const long fallbacksBefore = hugePageFallbacks();
    slab[bytes - 1] = 1;
    if (hugePageFallbacks() != fallbacksBefore) {
        memory.release(slab, bytes);
        GTEST_SKIP() << "the kernel had no free huge page just now";
    }
    const std::size_t lastHugePage = 3 * HugePageSlabMemory::HugePageBytes;
    EXPECT_EQ(residentPages(slab + lastHugePage, bytes - lastHugePage),
              static_cast<long>((bytes - lastHugePage + pageBytes() - 1) / pageBytes()))
        << "one write brought in the whole last huge page, not one 4 KiB page";
    memory.release(slab, bytes);
}

TEST(HugePageSlabMemory, DiscardedPagesGoBackAndTheSlabStaysUsable) {
    HugePageSlabMemory memory;
    const std::size_t bytes = 2 * HugePageSlabMemory::HugePageBytes;
    std::uint8_t* slab = memory.obtain(bytes);
    ASSERT_NE(slab, nullptr);
    ASSERT_TRUE(memory.back(slab, bytes));
    slab[0] = 7;
    slab[bytes - 1] = 8;
    memory.discard(slab, bytes);
    EXPECT_EQ(residentPages(slab, bytes), 0) << "discarding hands the pages back";
    EXPECT_EQ(slab[bytes - 1], 0);
    slab[0] = 9;
    EXPECT_EQ(slab[0], 9) << "the mapping stays the caller's";
    memory.release(slab, bytes);
}

TEST(HugePageSlabMemory, ImpossibleSizesAreRefused) {
    HugePageSlabMemory memory;
    EXPECT_EQ(memory.obtain(0), nullptr);
    EXPECT_EQ(memory.obtain(SIZE_MAX), nullptr);
    EXPECT_EQ(memory.obtain(SIZE_MAX - HugePageSlabMemory::HugePageBytes), nullptr);
    memory.release(nullptr, 100);  // nothing to give back: no harm
}

TEST(HugePageSlabMemory, EverySlabIsMappedApartFromTheOthers) {
    HugePageSlabMemory memory;
    const std::size_t bytes = HugePageSlabMemory::HugePageBytes;
    std::uint8_t* first = memory.obtain(bytes);
    std::uint8_t* second = memory.obtain(bytes);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(memory.back(first, bytes));
    ASSERT_TRUE(memory.back(second, bytes));
    first[bytes - 1] = 0x11;
    second[0] = 0x22;
    EXPECT_EQ(first[bytes - 1], 0x11);
    memory.release(first, bytes);
    EXPECT_EQ(second[0], 0x22) << "releasing one slab leaves its neighbour mapped";
    memory.release(second, bytes);
}

}  // namespace
}  // namespace qhs
