#include <benchmark/benchmark.h>

#include "app/Templates.h"

namespace {

// Every captured packet gets a time text, so this runs once per datagram.
void BM_ExpandDefaultDateTime(benchmark::State& state) {
    const qhs::LocalTime time{2003, 4, 3, 9, 5, 7, 42};
    for (auto _ : state) {
        benchmark::DoNotOptimize(qhs::expandDateTime("%Y.%MY.%D - %H24:%MN:%S.%MS", time));
    }
}
BENCHMARK(BM_ExpandDefaultDateTime);

void BM_ExpandDefaultDateTimeWithClock(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(qhs::expandDateTime("%Y.%MY.%D - %H24:%MN:%S.%MS"));
    }
}
BENCHMARK(BM_ExpandDefaultDateTimeWithClock);

void BM_ExpandDefaultFileName(benchmark::State& state) {
    const qhs::LocalTime time{2003, 4, 3, 9, 5, 7, 42};
    for (auto _ : state) {
        benchmark::DoNotOptimize(qhs::expandFileName(
            "%SIP to %DIP - [%DAT]", "%Y.%MY.%D - %H24:%MN:%S.%MS", 0x0100007F, 0x0200007F, time));
    }
}
BENCHMARK(BM_ExpandDefaultFileName);

}  // namespace
