// Any bytes as an IPv6 datagram, copied to a buffer of exactly their length so that any read
// past them is caught: the chain of extension headers lies inside the captured bytes, each
// header where the one before it ends, the upper layer after the last; and any 16 bytes as an
// address give the text inet_ntop gives.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "analysis/Ipv6View.h"

using namespace qhs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto copy = std::make_unique<std::uint8_t[]>(size);
    if (size > 0) {
        std::memcpy(copy.get(), data, size);
    }
    const Ipv6View view(copy.get(), static_cast<std::uint32_t>(size));
    if (view.isDecodable()) {
        std::uint32_t next = Ipv6View::FixedHeaderLength;
        for (std::size_t index = 0; index < view.extensionCount(); ++index) {
            const Ipv6Extension& extension = view.extension(index);
            QHS_FUZZ_REQUIRE(extension.offset == next && extension.length >= 8);
            QHS_FUZZ_REQUIRE(extension.offset + extension.length <= size);
            next = extension.offset + extension.length;
        }
        QHS_FUZZ_REQUIRE(view.upperOffset() == next && next <= size);
        static_cast<void>(view.trafficClass() + view.flowLabel() + view.payloadLength() +
                          view.hopLimit() + view.isLaterFragment());
    }
    if (size >= 16) {
        std::array<std::uint8_t, 16> address;
        std::memcpy(address.data(), data, address.size());
        char expected[INET6_ADDRSTRLEN];
        QHS_FUZZ_REQUIRE(::inet_ntop(AF_INET6, address.data(), expected, sizeof expected));
        QHS_FUZZ_REQUIRE(ipv6AddressText(address) == expected);
    }
    return 0;
}
