#include "packetmode/PacketJson.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "analysis/DatagramView.h"
#include "analysis/ProtocolNameTable.h"

namespace qhs {

namespace {

void appendNumber(std::string& out, std::uint64_t value) {
    char digits[24];
    const int length =
        std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(value));
    out.append(digits, static_cast<std::size_t>(length));
}

void appendSigned(std::string& out, std::int64_t value) {
    if (value < 0) {
        out.push_back('-');
        appendNumber(out, static_cast<std::uint64_t>(-(value + 1)) + 1);
    } else {
        appendNumber(out, static_cast<std::uint64_t>(value));
    }
}

void appendField(std::string& out, std::string_view name) {
    out.append(",\"");
    out.append(name);
    out.append("\":");
}

std::string flagNames(const TcpFlags& flags) {
    std::string names;
    const auto add = [&names](bool set, std::string_view name) {
        if (set) {
            if (!names.empty()) {
                names.push_back(',');
            }
            names.append(name);
        }
    };
    add(flags.finish, "FIN");
    add(flags.synchronize, "SYN");
    add(flags.reset, "RST");
    add(flags.push, "PSH");
    add(flags.acknowledgement, "ACK");
    add(flags.urgent, "URG");
    return names;
}

}  // namespace

std::string isoTime(std::int64_t nanosecondsSince1970) {
    using namespace std::chrono;
    const sys_time<nanoseconds> time{nanoseconds(nanosecondsSince1970)};
    const sys_days day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss<nanoseconds> clock(time - day);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%09lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()),
                  static_cast<long long>(clock.subseconds().count()));
    return text;
}

void appendJsonString(std::string& out, std::string_view text) {
    constexpr char Hex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte == '"' || byte == '\\') {
            out.push_back('\\');
            out.push_back(character);
        } else if (byte < 0x20 || byte >= 0x7F) {
            out.append("\\u00");
            out.push_back(Hex[byte >> 4]);
            out.push_back(Hex[byte & 0x0F]);
        } else {
            out.push_back(character);
        }
    }
    out.push_back('"');
}

void appendPacketJson(std::string& out, std::span<const std::uint8_t> datagram,
                      std::uint32_t originalLength, std::int64_t arrivalNanoseconds,
                      bool withData) {
    const DatagramView view(datagram.data(), static_cast<std::uint32_t>(datagram.size()));
    out.append("{\"time\":");
    appendJsonString(out, isoTime(arrivalNanoseconds));
    appendField(out, "epoch_ns");
    appendSigned(out, arrivalNanoseconds);
    appendField(out, "protocol");
    appendNumber(out, view.protocol());
    appendField(out, "protocol_name");
    appendJsonString(out, protocolName(view.protocol()));
    appendField(out, "captured_length");
    appendNumber(out, view.capturedLength());
    appendField(out, "original_length");
    appendNumber(out, std::max(originalLength, view.capturedLength()));
    appendField(out, "source");
    appendJsonString(out, view.sourceAddressText());
    appendField(out, "destination");
    appendJsonString(out, view.destinationAddressText());
    appendField(out, "source_port");
    appendNumber(out, view.sourcePort());
    appendField(out, "destination_port");
    appendNumber(out, view.destinationPort());
    const bool tcp = view.isTcp() && view.isTcpNavigable();
    appendField(out, "tcp_sequence");
    appendNumber(out, tcp ? view.tcpSequence() : 0);
    appendField(out, "tcp_acknowledgement");
    appendNumber(out, tcp ? view.tcpAcknowledgement() : 0);
    appendField(out, "tcp_flags");
    appendJsonString(out, tcp ? flagNames(view.tcpFlags()) : "");
    appendField(out, "tcp_window");
    appendNumber(out, tcp ? view.tcpWindow() : 0);
    if (withData) {
        constexpr char Hex[] = "0123456789abcdef";
        appendField(out, "data");
        out.push_back('"');
        for (std::uint32_t i = 0; i < view.capturedLength(); ++i) {
            out.push_back(Hex[datagram[i] >> 4]);
            out.push_back(Hex[datagram[i] & 0x0F]);
        }
        out.push_back('"');
    }
    out.append("}\n");
}

}  // namespace qhs
