#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/SettingsRecord.h"
#include "app/UserMessage.h"
#include "capture/PacketTable.h"
#include "packetmode/RecordFile.h"

namespace qhs {

inline constexpr std::string_view SavedListHeader =
    "Quillharbour Sniffer saved information:\r\n\r\n"
    "Type Size       Source IP  Destination IP  sPort dPort  Date/Time\r\n"
    "----------------------------------------------------------------";
inline constexpr std::string_view SavedListTrailerTop =
    "\r\n\r\n----------------------------------------------------------------"
    "\r\nType Size       Source IP  Destination IP  sPort dPort  Date/Time\r\n";
inline constexpr std::string_view UnableToSaveText =
    "Quillharbour Sniffer was unable to save the file.";

// The end of a saved list: the column headings again and the count of packets listed.
std::string savedListTrailer(std::int32_t packets, std::uint64_t elapsedMs);

enum class SaveStatus {
    Saved,        // every slot written, trailer included
    Cancelled,    // stopped by the cancel flag; the trailer counts the slots reached
    NotCreated,   // the file could not be created; nothing was written
    WriteFailed,  // a write failed; the file ends without the trailer
};

struct SaveOutcome {
    SaveStatus status = SaveStatus::Saved;
    std::int32_t slotsProcessed = 0;
    // The box to show for NotCreated and WriteFailed.
    std::optional<UserMessage> message;
};

// The window's side of a save; neither hook may wait for the list guard.
struct SaveHooks {
    // The file is created: hide the list, show progress over 0..storedCount and Cancel.
    std::function<void(std::int32_t storedCount)> started;
    // Progress position; called for every 20th slot.
    std::function<void(std::int32_t slot)> progress;
};

// Writes every slot of the store to a new text file at `path`: the header, one record per
// slot in slot order (rows deleted from the list included, released slots counted but not
// written), and the trailer with the count and the milliseconds taken. The count of stored
// packets is read again before every slot, so packets captured meanwhile are saved too.
// `cancel` is cleared once the file is created; setting it stops the save before the next
// slot. The save thread runs this; the options it writes with are read from `settings`.
SaveOutcome writePacketListFile(const std::string& path, PacketTable& table,
                                const SettingsRecord& settings, std::atomic<bool>& cancel,
                                const SaveHooks& hooks = {});

// What a file of the whole store holds: the saved list and the capture file differ only here.
struct StoreFileFormat {
    std::string header;
    // Writes one slot's record (or nothing for a slot without data); 0 or the error code.
    // Runs under the list guard.
    std::function<int(RecordFile& file, const PacketStore& store, std::int32_t slot)> record;
    // Written after the last record unless a write failed; may be unset.
    std::function<std::string(std::int32_t slotsReached, std::uint64_t elapsedMs)> trailer;
};

// The walk a save makes over the store, for any format: creates the file, writes the header,
// then each slot's record under the list guard, in slot order, until the stored count (read
// again before every slot) or `cancel`; then the trailer. The outcomes as for a save.
SaveOutcome writeStoreFile(const std::string& path, PacketTable& table,
                           const SettingsRecord& settings, std::atomic<bool>& cancel,
                           const SaveHooks& hooks, const StoreFileFormat& format);

}  // namespace qhs
