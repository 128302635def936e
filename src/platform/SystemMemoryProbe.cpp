#include "platform/SystemMemoryProbe.h"

#include <cstdio>
#include <cstring>

#include "platform/HugePageSlabMemory.h"

namespace qhs {

std::optional<MemoryFigures> SystemMemoryProbe::read() {
    std::FILE* file = std::fopen("/proc/meminfo", "re");
    if (file == nullptr) {
        return std::nullopt;
    }
    MemoryFigures figures;
    bool haveAvailable = false;
    bool haveTotal = false;
    char line[256];
    while ((!haveAvailable || !haveTotal) && std::fgets(line, sizeof line, file) != nullptr) {
        unsigned long long kilobytes = 0;
        if (std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1) {
            figures.availableBytes = kilobytes * 1024;
            haveAvailable = true;
        } else if (std::sscanf(line, "MemTotal: %llu kB", &kilobytes) == 1) {
            figures.totalBytes = kilobytes * 1024;
            haveTotal = true;
        }
    }
    std::fclose(file);
    if (!haveAvailable || !haveTotal) {
        return std::nullopt;
    }
    return figures;
}

SlabMemory& flooredHugePageSlabMemory() {
    static SystemMemoryProbe probe;
    static FlooredSlabMemory memory(hugePageSlabMemory(), probe);
    return memory;
}

}  // namespace qhs
