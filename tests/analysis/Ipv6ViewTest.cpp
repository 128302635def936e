#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "analysis/Ipv6View.h"

namespace qhs {
namespace {

std::vector<std::uint8_t> datagram(std::uint8_t nextHeader, const std::vector<std::uint8_t>& rest) {
    std::vector<std::uint8_t> bytes(40 + rest.size(), 0);
    const std::uint8_t fixed[] = {0x6A,
                                  0xB1,
                                  0x23,
                                  0x45,
                                  static_cast<std::uint8_t>(rest.size() >> 8),
                                  static_cast<std::uint8_t>(rest.size()),
                                  nextHeader,
                                  64};
    std::copy(std::begin(fixed), std::end(fixed), bytes.begin());
    bytes[23] = 1;  // ::1 to ::2
    bytes[39] = 2;
    std::copy(rest.begin(), rest.end(), bytes.begin() + 40);
    return bytes;
}

// The chain leads through hop-by-hop options and a fragment header to UDP; a later fragment
// says so; a header whose length runs past the bytes ends the chain there.
TEST(Ipv6View, TheExtensionChainLeadsToTheUpperLayerAsFarAsItIsSound) {
    const std::vector<std::uint8_t> udp = {0x13, 0x88, 0x00, 0x35, 0, 12, 0, 0, 'a', 'b', 'c', 'd'};
    std::vector<std::uint8_t> rest = {44, 0, 1,    4,    0, 0, 0, 0,   // hop-by-hop
                                      17, 0, 0x05, 0xC9, 0, 0, 0, 7};  // fragment at 1480
    rest.insert(rest.end(), udp.begin(), udp.end());
    const std::vector<std::uint8_t> fragmented = datagram(0, rest);
    const Ipv6View view(fragmented.data(), static_cast<std::uint32_t>(fragmented.size()));
    ASSERT_TRUE(view.isDecodable());
    EXPECT_EQ(view.trafficClass(), 0xAB);
    EXPECT_EQ(view.flowLabel(), 0x12345u);
    EXPECT_EQ(view.payloadLength(), rest.size());
    EXPECT_EQ(view.hopLimit(), 64);
    EXPECT_EQ(ipv6AddressText(view.sourceAddress()), "::1");
    ASSERT_EQ(view.extensionCount(), 2u);
    EXPECT_EQ(view.extension(1).type, Ipv6View::Fragment);
    EXPECT_EQ(view.upperProtocol(), 17);
    EXPECT_EQ(view.upperOffset(), 56u);
    EXPECT_TRUE(view.chainIsSound());
    EXPECT_TRUE(view.isLaterFragment());

    const std::vector<std::uint8_t> cut = datagram(43, {6, 200, 0, 0, 0, 0, 0, 0});
    const Ipv6View malformed(cut.data(), static_cast<std::uint32_t>(cut.size()));
    EXPECT_FALSE(malformed.chainIsSound());
    EXPECT_EQ(malformed.extensionCount(), 0u);
    EXPECT_EQ(malformed.upperOffset(), 40u);

    const std::vector<std::uint8_t> ipv4 = {0x45, 0, 0, 40};
    EXPECT_FALSE(Ipv6View(ipv4.data(), 4).isDecodable());
}

TEST(Ipv6View, AddressesAreWrittenAsRfc5952Says) {
    const auto text = [](std::vector<std::uint8_t> bytes) {
        std::array<std::uint8_t, 16> address{};
        std::copy(bytes.begin(), bytes.end(), address.begin());
        return ipv6AddressText(address);
    };
    EXPECT_EQ(text({}), "::");
    EXPECT_EQ(text({0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}),
              "2001:db8::1:0:0:1");  // the first of two equal runs
    EXPECT_EQ(text({0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}),
              "2001:db8:0:1:1:1:1:1");  // one zero field stays
    EXPECT_EQ(text({0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAB, 0xCD}), "fe80::abcd");
    EXPECT_EQ(text({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 0, 2, 1}), "::ffff:192.0.2.1");
}

}  // namespace
}  // namespace qhs
