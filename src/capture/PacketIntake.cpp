#include "capture/PacketIntake.h"

#include <algorithm>
#include <cstring>

#include "analysis/PacketFilter.h"

namespace qhs {

PacketIntake::PacketIntake(PacketCaptureContext& context)
    : context_(context), settings_(context.settings), arena_(context.table.arena()) {
    if (!context_.passed) {
        arena_.prepareAhead();
    }
}

std::uint8_t* PacketIntake::allocate(std::size_t length) {
    blockBytes_ = length + PacketBlockSpareBytes;
    if (context_.passed) {
        // Nothing is kept, so one block serves every datagram in turn.
        if (passing_.size() < blockBytes_) {
            passing_.resize(blockBytes_);
        }
        block_ = passing_.data();
    } else {
        block_ = arena_.allocate(blockBytes_);
    }
    if (block_ != nullptr) {
        std::memset(block_ + length, 0, PacketBlockSpareBytes);
    }
    return block_;
}

PacketIntake::Outcome PacketIntake::take(std::size_t length, std::int64_t arrivalNanoseconds,
                                         std::size_t originalLength) {
    if (block_ == nullptr) {
        return Outcome::NoMemory;
    }
    std::uint8_t* const block = block_;
    block_ = nullptr;
    const auto datagramLength = static_cast<std::uint32_t>(length);
    const FilterVerdict verdict = context_.filter.accept(block, datagramLength);
    if (!verdict.accepted) {
        arena_.giveBack(block, blockBytes_);  // a dropped datagram leaves no trace
        return Outcome::Filtered;
    }
    if (context_.passed) {
        const PassedPacket packet{
            {block, datagramLength},
            static_cast<std::uint32_t>(std::max(originalLength, length)),
            arrivalNanoseconds,
            timeTexts_.text(textField(settings_.get().dateTimeTemplate), arrivalNanoseconds)};
        context_.passed(packet);
        return Outcome::Passed;
    }
    PacketTable& table = context_.table;
    if (table.storedCount() >= PacketStoreCapacity) {
        arena_.giveBack(block, blockBytes_);
        return Outcome::StoreFull;
    }
    table.countAllocation(datagramLength);
    const std::string_view timeText =
        timeTexts_.text(textField(settings_.get().dateTimeTemplate), arrivalNanoseconds);

    // The row and its slot appear together, so no reader sees a row without its packet.
    table.appendFromArena(
        block, datagramLength,
        [&](PacketArena& arena, std::uint64_t clearCount) {
            // A clear gives the arena back, the shared time text with it: keep it anew then.
            if (storedTime_ == nullptr || storedTimeVersion_ != timeTexts_.version() ||
                storedTimeClears_ != clearCount) {
                storedTime_ = arena.copyText(timeText);
                storedTimeVersion_ = timeTexts_.version();
                storedTimeClears_ = clearCount;
            }
            return storedTime_;
        },
        verdict.containsColumn, verdict.lacksColumn, arrivalNanoseconds);
    return Outcome::Stored;
}

}  // namespace qhs
