#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/SoundPlayer.h"
#include "app/TcpClient.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureSource.h"
#include "capture/SlabMemory.h"

namespace qhs {

// The name look-ups behind the resolver buttons. An empty one finds nothing.
struct HostLookups {
    std::function<std::optional<std::string>(const std::string& host)> hostAddress;
    std::function<std::optional<std::string>(std::uint32_t networkOrderAddress)> addressName;
    std::function<std::optional<std::string>(const std::array<std::uint8_t, 16>& address)>
        ipv6AddressName;
};

// What the windows and the command line take from the system. main.cpp fills it with the
// Linux services (the one place that knows them); tests and benchmarks put their own in
// where they need to.
struct SystemServices {
    CaptureSourceFactory captureSource;  // a live capture, for either mode
    CaptureFileOpener openCaptureFile;
    // The slabs of the store and the list; the store's own stop short of the system's last
    // free memory.
    SlabMemory* memory = nullptr;
    SlabMemory* flooredMemory = nullptr;
    std::function<std::uint64_t()> availableMemoryBytes;
    // The capture threads run one step above normal priority, the list's helpers below.
    std::function<void()> raiseThreadPriority;
    std::function<void()> lowerThreadPriority;
    std::function<std::unique_ptr<SoundPlayer>()> makeSoundPlayer;
    std::function<std::unique_ptr<TcpClient>()> makeTcpClient;
    // The IPv4 addresses of the local interfaces; nothing when they cannot be listed.
    std::function<std::optional<std::vector<std::string>>()> interfaceAddresses;
    HostLookups lookups;
};

}  // namespace qhs
