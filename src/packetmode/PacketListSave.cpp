#include "packetmode/PacketListSave.h"

#include "app/ProcessClock.h"
#include "packetmode/PacketRecord.h"
#include "packetmode/RecordFile.h"

namespace qhs {

namespace {

constexpr std::int32_t ProgressStep = 20;

UserMessage writeFailure(int errorCode, const std::string& path, const SettingsRecord& settings) {
    return reportWriteError(errorCode, path, textField(settings.dateTimeTemplate));
}

}  // namespace

SaveOutcome writeStoreFile(const std::string& path, PacketTable& table,
                           const SettingsRecord& settings, std::atomic<bool>& cancel,
                           const SaveHooks& hooks, const StoreFileFormat& format) {
    SaveOutcome outcome;
    RecordFile file;
    if (file.create(path) != 0) {
        outcome.status = SaveStatus::NotCreated;
        outcome.message = UserMessage{std::string(UnableToSaveText), "Error", MessageIcon::Stop};
        return outcome;
    }
    file.write(format.header);

    const std::uint64_t startMs = processClockMs();
    cancel = false;
    if (hooks.started) {
        hooks.started(table.storedCount());
    }
    std::int32_t slot = 0;
    int error = 0;
    bool cancelled = false;
    for (; slot < table.storedCount(); ++slot) {
        if (cancel) {
            cancelled = true;
            break;
        }
        {
            // Delete and Clear free slots under the list guard; holding it for one record
            // keeps the slot's block alive while it is written, and lets capture go on
            // between records.
            const PacketTable::Access access = table.lock();
            error = format.record(file, access.store(), slot);
        }
        if (error != 0) {
            break;
        }
        if (slot % ProgressStep == 0 && hooks.progress) {
            hooks.progress(slot);
        }
    }
    outcome.slotsProcessed = slot;
    if (error == 0 && format.trailer) {
        file.write(format.trailer(slot, processClockMs() - startMs));
    }
    // Buffered records reach the disk here at the latest, so a full disk can show up only
    // now; it is reported the same way.
    error = file.close();
    if (error != 0) {
        outcome.status = SaveStatus::WriteFailed;
        outcome.message = writeFailure(error, path, settings);
    } else if (cancelled) {
        outcome.status = SaveStatus::Cancelled;
    }
    return outcome;
}

std::string savedListTrailer(std::int32_t packets, std::uint64_t elapsedMs) {
    std::string trailer(SavedListTrailerTop);
    trailer.append("\r\n")
        .append(std::to_string(packets))
        .append(" Packets listed in ")
        .append(std::to_string(elapsedMs))
        .append(" milliseconds.");
    return trailer;
}

SaveOutcome writePacketListFile(const std::string& path, PacketTable& table,
                                const SettingsRecord& settings, std::atomic<bool>& cancel,
                                const SaveHooks& hooks) {
    const RecordFlags flags = savingFlags(settings);
    StoreFileFormat format;
    format.header = std::string(SavedListHeader);
    format.record = [flags](RecordFile& file, const PacketStore& store, std::int32_t slot) {
        return writePacketRecord(file, store, slot, flags);
    };
    format.trailer = &savedListTrailer;
    return writeStoreFile(path, table, settings, cancel, hooks, format);
}

}  // namespace qhs
