#include "packetmode/PacketRecord.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <span>

#include "analysis/DatagramView.h"
#include "analysis/ProtocolNameTable.h"
#include "app/Templates.h"
#include "packetmode/ByteRenderings.h"

namespace qhs {

namespace {

constexpr std::size_t TypeWidth = 4;
constexpr std::size_t SizeWidth = 4;
constexpr std::size_t AddressWidth = 15;
constexpr std::size_t PortWidth = 5;

// Right-aligns in a field of at least `width` characters; a longer text pushes the rest
// of the line to the right, as printf's field widths do.
void appendRightAligned(std::string& out, std::string_view text, std::size_t width) {
    if (text.size() < width) {
        out.append(width - text.size(), ' ');
    }
    out.append(text);
}

void appendNumber(std::string& out, std::uint32_t value, std::size_t width) {
    char digits[10];
    std::size_t start = sizeof digits;
    do {
        digits[--start] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    appendRightAligned(out, std::string_view(digits + start, sizeof digits - start), width);
}

void appendAddress(std::string& out, const std::array<std::uint8_t, 4>& bytes) {
    char text[15];
    std::size_t length = 0;
    for (std::size_t part = 0; part < bytes.size(); ++part) {
        if (part > 0) {
            text[length++] = '.';
        }
        const unsigned value = bytes[part];
        if (value >= 100) {
            text[length++] = static_cast<char>('0' + value / 100);
        }
        if (value >= 10) {
            text[length++] = static_cast<char>('0' + value / 10 % 10);
        }
        text[length++] = static_cast<char>('0' + value % 10);
    }
    appendRightAligned(out, std::string_view(text, length), AddressWidth);
}

void appendHeading(std::string& out, const DatagramView& datagram, std::string_view timeText,
                   bool withData) {
    out.append(withData ? "\r\n\r\n" : "\r\n");
    appendRightAligned(out, protocolNameOf(datagram), TypeWidth);
    out.push_back(' ');
    appendNumber(out, datagram.capturedLength(), SizeWidth);
    out.push_back(' ');
    if (datagram.isIpv6()) {
        // An IPv6 address is wider than the field, which widens for it.
        appendRightAligned(out, datagram.sourceAddressText(), AddressWidth);
        out.push_back(' ');
        appendRightAligned(out, datagram.destinationAddressText(), AddressWidth);
    } else {
        appendAddress(out, datagram.sourceAddressBytes());
        out.push_back(' ');
        appendAddress(out, datagram.destinationAddressBytes());
    }
    out.append("  ");
    appendNumber(out, datagram.sourcePort(), PortWidth);
    out.push_back(' ');
    appendNumber(out, datagram.destinationPort(), PortWidth);
    out.append("  [");
    out.append(timeText);
    out.push_back(']');
}

// Turns the record that begins at `start` from the saved list's layout (a line break before
// each heading, "\r\n" between lines, no break after the last) into lines that each end with
// "\n". Text data keeps its bytes: only the breaks the layout put around it change.
void toUnixLines(std::string& out, std::size_t start, bool withData, bool textData) {
    const std::size_t leading = withData ? 4 : 2;  // "\r\n\r\n" or "\r\n"
    const std::size_t headingEnd = out.find("\r\n", start + leading);
    // Kept from record to record, so a record costs no allocation.
    thread_local std::string record;
    record.assign(
        out, start + leading,
        headingEnd == std::string::npos ? std::string::npos : headingEnd - start - leading);
    record.push_back('\n');
    if (withData) {
        record.push_back('\n');
        std::string_view data(out);
        data.remove_prefix(headingEnd + 4);
        if (textData) {
            record.append(data);
        } else {
            for (std::size_t i = 0; i < data.size(); ++i) {
                if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') {
                    continue;
                }
                record.push_back(data[i]);
            }
        }
        if (record.back() != '\n') {
            record.push_back('\n');
        }
        record.push_back('\n');
    }
    out.resize(start);
    out.append(record);
}

}  // namespace

RecordFlags savingFlags(const SettingsRecord& settings) {
    if (settings.saveIncludeData == 0) {
        return {};
    }
    return RecordFlags{settings.saveDataText != 0, settings.saveDataDec != 0,
                       settings.saveDataHex != 0};
}

RecordFlags loggingFlags(const SettingsRecord& settings) {
    return RecordFlags{settings.logDataText != 0, settings.logDataDec != 0,
                       settings.logDataHex != 0};
}

int writePacketRecord(RecordFile& file, const PacketStore& store, std::int32_t slot,
                      RecordFlags flags) {
    return writePacketRecord(file, {store.packet(slot), store.length(slot)}, store.time(slot),
                             flags);
}

int writePacketRecord(RecordFile& file, std::span<const std::uint8_t> bytes,
                      std::string_view timeText, RecordFlags flags) {
    // The view reads header fields only inside the captured length, so a datagram shorter
    // than its headers shows zeros there instead of reading past its bytes.
    const DatagramView datagram(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    if (!datagram.hasData()) {
        return 0;
    }
    std::string& out = file.pending();
    const std::size_t recordStart = out.size();
    appendHeading(out, datagram, timeText, flags.any());
    const std::span<const std::uint8_t> captured(datagram.data(), datagram.capturedLength());
    if (flags.text) {
        // The file keeps the bytes exactly as captured, zero bytes and line breaks included.
        out.append("\r\n\r\n");
        if (flags.forTerminal) {
            for (const std::uint8_t byte : captured) {
                out.push_back(byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.');
            }
        } else {
            out.append(reinterpret_cast<const char*>(captured.data()), captured.size());
        }
    } else if (flags.dec) {
        out.append("\r\n\r\n");
        appendDecimal(captured, out);
    } else if (flags.hex) {
        out.append("\r\n\r\n");
        appendHex(captured, out);
    }
    if (flags.unixLines) {
        toUnixLines(out, recordStart, flags.any(), flags.text);
    }
    return file.commit();
}

UserMessage reportWriteError(int errorCode, std::string_view path,
                             std::string_view dateTimeTemplate) {
    std::string_view cause;
    switch (errorCode) {
        case ENOSPC:
        case EDQUOT:
            cause = "Windows reports that the disk is full.";
            break;
        case EIO:
            cause =
                "Windows reports that while accessing the hard disk, a disk operation failed "
                "even after retries.";
            break;
        default:
            break;
    }
    std::string text;
    if (cause.empty()) {
        text.append("Error while writing file with path:\r\n  ")
            .append(path)
            .append("\r\nThe cause of the error is unknown.");
    } else {
        text.append(expandDateTime(dateTimeTemplate))
            .append("\r\n\r\nError while writing file with path:\r\n  ")
            .append(path)
            .append("\r\n")
            .append(cause);
    }
    return UserMessage{std::move(text), std::string(WriteErrorCaption), MessageIcon::Stop};
}

}  // namespace qhs
