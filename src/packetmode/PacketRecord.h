#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "app/SettingsRecord.h"
#include "app/UserMessage.h"
#include "capture/PacketStore.h"
#include "packetmode/RecordFile.h"

namespace qhs {

// Which rendering of the datagram's bytes follows each heading; the first set of text,
// dec and hex wins, and none set means headings only.
struct RecordFlags {
    bool text = false;
    bool dec = false;
    bool hex = false;
    // Text for a terminal: a byte outside printable ASCII shows as '.', so no escape
    // sequence from the network reaches it.
    bool forTerminal = false;
    // Lines as text tools read them: each record's lines end with "\n" (not "\r\n" before
    // the next one), and a record with data ends with a blank line.
    bool unixLines = false;

    bool any() const { return text || dec || hex; }
};

// The flags of a save: the three choices count only when "Save packet data" is on.
RecordFlags savingFlags(const SettingsRecord& settings);
// The flags of the automatic log.
RecordFlags loggingFlags(const SettingsRecord& settings);

inline constexpr std::string_view WriteErrorCaption = "Error while writing to file";

// Appends one stored datagram to the file as a text record: a heading line of fixed-width
// columns (type, size, addresses, ports, time), then the bytes when a flag asks for them.
// A slot without data or of length 0 (a released one) writes nothing. A slot whose time
// text is empty is written with "[]": an empty date template is a legal setting and must
// not make records vanish. Returns 0, or the error code (errno) of the first failed write.
int writePacketRecord(RecordFile& file, const PacketStore& store, std::int32_t slot,
                      RecordFlags flags);
// The same record from a datagram's bytes and its time text.
int writePacketRecord(RecordFile& file, std::span<const std::uint8_t> bytes,
                      std::string_view timeText, RecordFlags flags);

// The message for a failed write to `path`: a full disk (ENOSPC, EDQUOT) and a failed disk
// operation (EIO) are named, with the current time expanded from the template first; any
// other code gives the unknown-cause text.
UserMessage reportWriteError(int errorCode, std::string_view path,
                             std::string_view dateTimeTemplate);

}  // namespace qhs
