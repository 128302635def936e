#pragma once

#include "platform/PlatformLayer.h"

#include "capture/MemoryFloor.h"

namespace qhs {

// MemAvailable and MemTotal of /proc/meminfo.
class SystemMemoryProbe final : public MemoryProbe {
  public:
    std::optional<MemoryFigures> read() override;
};

// The huge-page slabs of the program's stores, refused below the memory floor.
SlabMemory& flooredHugePageSlabMemory();

}  // namespace qhs
