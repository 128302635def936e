#include <gtest/gtest.h>

// Counts heap allocations to show that accept allocates nothing per datagram. The sanitizer
// runtime owns operator new in that build, so the check runs in the ordinary build only.
#if !defined(__SANITIZE_ADDRESS__)

#include <atomic>
#include <cstdlib>
#include <new>

#include "analysis/PacketFilter.h"
#include "support/TestDatagram.h"

namespace {
std::atomic<long> allocationCount{0};
}  // namespace

// The replacements pair malloc with free themselves; the compiler cannot see that once they
// are inlined into code that pairs new with delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace qhs {
namespace {

TEST(PacketFilterAllocation, AcceptAllocatesNothingPerDatagram) {
    SettingsRecord record = defaultSettings();
    record.filterDestIps[0] = test::address(10, 0, 0, 2);
    PacketFilter::parsePortList("80,443", record.filterDestPorts);
    setTextField(record.filterContains1, "needle");
    setTextField(record.filterLacks1, "Refused");
    PacketFilter filter;
    filter.refresh(true, record);

    test::TestDatagram datagram;
    const test::Block large(datagram.withPayload(std::string(60000, 'y') + "needle").bytes());
    const test::Block small(test::TestDatagram{}.withPayload("a needle").bytes());
    filter.accept(large.data(), large.length());

    const long before = allocationCount.load();
    for (int i = 0; i < 1000; ++i) {
        EXPECT_TRUE(filter.accept(small.data(), small.length()).accepted);
        EXPECT_TRUE(filter.accept(large.data(), large.length()).accepted);
    }
    EXPECT_EQ(allocationCount.load(), before);
}

}  // namespace
}  // namespace qhs

#endif
