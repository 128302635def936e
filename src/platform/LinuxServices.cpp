#include "platform/LinuxServices.h"

#include "platform/AlsaSoundPlayer.h"
#include "platform/CaptureFileReader.h"
#include "platform/HugePageSlabMemory.h"
#include "platform/LinuxTcpClient.h"
#include "platform/NameResolver.h"
#include "platform/NetworkInterfaces.h"
#include "platform/PcapCaptureSource.h"
#include "platform/ProcessFacts.h"
#include "platform/SystemMemoryProbe.h"

namespace qhs {

SystemServices linuxServices() {
    SystemServices services;
    services.captureSource = &PcapCaptureSource::create;
    services.openCaptureFile = [](const std::string& path) -> std::unique_ptr<CaptureFileFrames> {
        return std::make_unique<CaptureFileReader>(path);
    };
    services.memory = &hugePageSlabMemory();
    services.flooredMemory = &flooredHugePageSlabMemory();
    services.availableMemoryBytes = &availableMemoryBytes;
    services.raiseThreadPriority = &raiseThreadPriority;
    services.lowerThreadPriority = &lowerThreadPriority;
    services.makeSoundPlayer = []() -> std::unique_ptr<SoundPlayer> {
        return std::make_unique<AlsaSoundPlayer>();
    };
    services.makeTcpClient = []() -> std::unique_ptr<TcpClient> {
        return std::make_unique<LinuxTcpClient>();
    };
    services.interfaceAddresses = &localIpv4Addresses;
    services.lookups.hostAddress = &resolveHostAddress;
    services.lookups.addressName = &resolveAddressName;
    services.lookups.ipv6AddressName = &resolveIpv6AddressName;
    return services;
}

}  // namespace qhs
