#include "analysis/ProtocolNameTable.h"

#include <array>

#include "analysis/DatagramView.h"

namespace qhs {

namespace {

struct NamedSlot {
    std::uint8_t number;
    std::string_view name;
};

// The assigned numbers of RFC 1700: 91 names. Every other slot but 0 keeps the default text,
// among them 61, 63, 68 and 99, which stand for any protocol of a kind rather than one.
constexpr NamedSlot NamedSlots[] = {
    {1, "ICMP"},         {2, "IGMP"},         {3, "GGP"},         {4, "IP"},
    {5, "ST"},           {6, "TCP"},          {7, "UCL"},         {8, "EGP"},
    {9, "IGP"},          {10, "BBN-RCC-MON"}, {11, "NVP-II"},     {12, "PUP"},
    {13, "ARGUS"},       {14, "EMCON"},       {15, "XNET"},       {16, "CHAOS"},
    {17, "UDP"},         {18, "MUX"},         {19, "DCN-MEAS"},   {20, "HMP"},
    {21, "PRM"},         {22, "XNS-IDP"},     {23, "TRUNK-1"},    {24, "TRUNK-2"},
    {25, "LEAF-1"},      {26, "LEAF-2"},      {27, "RDP"},        {28, "IRTP"},
    {29, "ISO-TP4"},     {30, "NETBLT"},      {31, "MFE-NSP"},    {32, "MERIT-INP"},
    {33, "SEP"},         {34, "3PC"},         {35, "IDPR"},       {36, "XTP"},
    {37, "DDP"},         {38, "IDPR-CMTP"},   {39, "TP++"},       {40, "IL"},
    {41, "SIP"},         {42, "SDRP"},        {43, "SIP-SR"},     {44, "SIP-FRAG"},
    {45, "IDRP"},        {46, "RSVP"},        {47, "GRE"},        {48, "MHRP"},
    {49, "BNA"},         {50, "SIPP-ESP"},    {51, "SIPP-AH"},    {52, "I-NLSP"},
    {53, "SWIPE"},       {54, "NHRP"},        {62, "CFTP"},       {64, "SAT-EXPAK"},
    {65, "KRYPTOLAN"},   {66, "RVD"},         {67, "IPPC"},       {69, "SAT-MON"},
    {70, "VISA"},        {71, "IPCV"},        {72, "CPNX"},       {73, "CPHB"},
    {74, "WSN"},         {75, "PVP"},         {76, "BR-SAT-MON"}, {77, "SUN-ND"},
    {78, "WB-MON"},      {79, "WB-EXPAK"},    {80, "ISO-IP"},     {81, "VMTP"},
    {82, "SECURE-VMTP"}, {83, "VINES"},       {84, "TTP"},        {85, "NSFNET-IGP"},
    {86, "DGP"},         {87, "TCF"},         {88, "IGRP"},       {89, "OSPFIGP"},
    {90, "Sprite-RPC"},  {91, "LARP"},        {92, "MTP"},        {93, "AX.25"},
    {94, "IPIP"},        {95, "MICP"},        {96, "SCC-SP"},     {97, "ETHERIP"},
    {98, "ENCAP"},       {100, "GMTP"},       {255, "Reserved"},
};
static_assert(std::size(NamedSlots) == 91);

constexpr bool namesFitTheirSlots() {
    for (const NamedSlot& named : NamedSlots) {
        if (named.name.empty() || named.name.size() >= ProtocolNameTable::SlotSize) {
            return false;
        }
    }
    return true;
}
static_assert(namesFitTheirSlots(), "a protocol name must have 1 to 11 characters");

using Slot = std::array<char, ProtocolNameTable::SlotSize>;
using Slots = std::array<Slot, ProtocolNameTable::SlotCount>;

// Default text everywhere, the empty text in slot 0, then the names.
constexpr Slots buildSlots() {
    Slots slots{};
    for (Slot& slot : slots) {
        slot = Slot{};
        ProtocolNameTable::DefaultName.copy(slot.data(), slot.size() - 1);
    }
    slots[0] = Slot{};
    for (const NamedSlot& named : NamedSlots) {
        slots[named.number] = Slot{};
        named.name.copy(slots[named.number].data(), named.name.size());
    }
    return slots;
}

constexpr Slots SlotTexts = buildSlots();

constexpr std::array<std::string_view, ProtocolNameTable::SlotCount> buildNames() {
    std::array<std::string_view, ProtocolNameTable::SlotCount> names{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        names[i] = std::string_view(SlotTexts[i].data());
    }
    return names;
}

constexpr std::array<std::string_view, ProtocolNameTable::SlotCount> Names = buildNames();

}  // namespace

std::string_view ProtocolNameTable::name(std::uint8_t protocol) noexcept {
    return Names[protocol];
}

std::string_view protocolNameOf(const DatagramView& datagram) noexcept {
    if (datagram.isIpv6() && datagram.protocol() == DatagramView::ProtocolIcmpv6) {
        return "ICMPv6";
    }
    return protocolName(datagram.protocol());
}

}  // namespace qhs
