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

// The length of the well-formed UTF-8 sequence `text` begins with, or 0 when it begins with
// none (a stray byte, an overlong form, a surrogate, past U+10FFFF, cut short).
std::size_t utf8SequenceLength(std::string_view text) {
    const auto at = [&text](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned lead = at(0);
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || at(1) < low || at(1) > high) {
        return 0;
    }
    for (std::size_t index = 2; index < length; ++index) {
        if (at(index) < 0x80 || at(index) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string isoTime(std::int64_t nanosecondsSince1970) {
    using namespace std::chrono;
    // In whole days, seconds and nanoseconds, each rounded down: the day of a stamp near the
    // ends of 64 bits does not fit 64 bits of nanoseconds.
    constexpr std::int64_t NanosecondsPerSecond = 1'000'000'000;
    constexpr std::int64_t SecondsPerDay = 86'400;
    std::int64_t seconds = nanosecondsSince1970 / NanosecondsPerSecond;
    std::int64_t nanoseconds = nanosecondsSince1970 % NanosecondsPerSecond;
    if (nanoseconds < 0) {
        nanoseconds += NanosecondsPerSecond;
        --seconds;
    }
    std::int64_t day = seconds / SecondsPerDay;
    std::int64_t second = seconds % SecondsPerDay;
    if (second < 0) {
        second += SecondsPerDay;
        --day;
    }
    const year_month_day date{sys_days{days{day}}};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%09lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(second / 3600),
                  static_cast<int>(second / 60 % 60), static_cast<int>(second % 60),
                  static_cast<long long>(nanoseconds));
    return text;
}

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    const auto escape = [&out](unsigned codePoint) {
        out.append("\\u00");
        out.push_back(Hex[codePoint >> 4 & 0x0F]);
        out.push_back(Hex[codePoint & 0x0F]);
    };
    out.push_back('"');
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte == '"' || byte == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(byte));
            ++at;
        } else if (byte < 0x20 || byte == 0x7F) {
            escape(byte);
            ++at;
        } else if (byte < 0x80) {
            out.push_back(static_cast<char>(byte));
            ++at;
        } else if (const std::size_t length = utf8SequenceLength(text.substr(at)); length == 0) {
            // Not UTF-8: JSON cannot carry the byte itself.
            out.append("\\ufffd");
            ++at;
        } else if (byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            // U+0080 to U+009F: the C1 controls, which a terminal may act on.
            escape(static_cast<unsigned char>(text[at + 1]));
            at += length;
        } else {
            out.append(text.substr(at, length));
            at += length;
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
    appendJsonString(out, protocolNameOf(view));
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
