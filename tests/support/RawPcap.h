#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/FileContents.h"

namespace qhs {

// The time writeRawPcap gives its record `index`: one second apart from 14 November 2023,
// a quarter of a second past each.
constexpr std::int64_t rawPcapNanoseconds(std::size_t index) {
    return (1700000000 + static_cast<std::int64_t>(index)) * 1000000000 + 250000000;
}

// A classic pcap file of raw IPv4 records, each cut to `snapLength` bytes with its original
// length kept; `cutAt` (when given) ends the file inside the last record, as a capture
// killed while writing leaves it.
inline void writeRawPcap(const std::filesystem::path& path,
                         const std::vector<std::vector<std::uint8_t>>& datagrams,
                         std::uint32_t snapLength = 65535, std::size_t cutAt = 0) {
    std::string file;
    const auto put = [&file](std::uint32_t value) {
        file.append(reinterpret_cast<const char*>(&value), sizeof value);
    };
    put(0xA1B2C3D4);
    put(0x00040002);  // version 2.4
    put(0);
    put(0);
    put(snapLength);
    put(101);  // raw IP
    for (std::size_t index = 0; index < datagrams.size(); ++index) {
        const std::vector<std::uint8_t>& datagram = datagrams[index];
        const auto kept =
            std::min<std::uint32_t>(static_cast<std::uint32_t>(datagram.size()), snapLength);
        const std::int64_t stamp = rawPcapNanoseconds(index);
        put(static_cast<std::uint32_t>(stamp / 1000000000));
        put(static_cast<std::uint32_t>(stamp % 1000000000 / 1000));
        put(kept);
        put(static_cast<std::uint32_t>(datagram.size()));
        file.append(reinterpret_cast<const char*>(datagram.data()), kept);
    }
    if (cutAt != 0) {
        file.resize(file.size() - cutAt);
    }
    writeFileContents(path, file);
}

}  // namespace qhs
