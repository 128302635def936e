#include "packetmode/PacketFinder.h"

#include <chrono>
#include <utility>

#include "analysis/DatagramView.h"
#include "analysis/SearchText.h"
#include "analysis/SubstringSearcher.h"
#include "packetmode/PacketRowLookup.h"

namespace qhs {

namespace {

constexpr std::string_view ErrorCaption = "Error";
constexpr std::string_view NothingToSearchText = "Unable to perform search on nothing.";
constexpr std::string_view BlankFindText = "Unable to perform search for blank substring.";
constexpr std::string_view NothingFoundText = "No instance of string found.";
constexpr std::string_view SearchAgainText =
    "Search is complete.\r\n\r\nWould you like to search again?";
constexpr std::string_view SearchAgainCaption = "Search again?";

// One chunk of the search holds the list guard for at most this many slots or bytes of
// payload, a millisecond or two of work.
constexpr std::int32_t ChunkSlots = 16384;
constexpr std::size_t ChunkBytes = 4 << 20;
// A mutex does not hand itself to a waiting thread: taken again at once, it would keep the
// capture thread out for the whole search. This pause between chunks lets a waiter in.
constexpr auto ChunkPause = std::chrono::microseconds(1);

constexpr auto MatchPollInterval = std::chrono::milliseconds(20);

UserMessage errorMessage(std::string_view text) {
    return UserMessage{std::string(text), std::string(ErrorCaption), MessageIcon::None};
}

}  // namespace

PacketFinder::PacketFinder(PacketTable& table, FindHooks hooks, std::function<void()> onFindThread)
    : table_(table), hooks_(std::move(hooks)), onFindThread_(std::move(onFindThread)) {}

PacketFinder::~PacketFinder() {
    stopSearch.store(true);
    thread_.join();
}

void PacketFinder::findOrNext() {
    if (searchRunning.load()) {
        findNext.store(true);
        return;
    }
    // A finished thread has cleared searchRunning as its last step: start() joins it quickly.
    stopSearch.store(false);
    searchRunning.store(true);
    thread_.start([this] {
        if (onFindThread_) {
            onFindThread_();
        }
        runPasses();
    });
}

void PacketFinder::joinIfEnded() {
    if (!searchRunning.load()) {
        thread_.join();
    }
}

void PacketFinder::stopIfRunning() {
    if (searchRunning.load()) {
        stopSearch.store(true);
    }
}

void PacketFinder::endRun() {
    stopSearch.store(false);
    searchRunning.store(false);
}

FindOutcome PacketFinder::run() {
    searchRunning.store(true);
    stopSearch.store(false);
    return runPasses();
}

FindOutcome PacketFinder::runPasses() {
    for (;;) {
        const bool listEmpty = table_.lock().list().rowCount() == 0;
        if (listEmpty) {
            hooks_.showMessage(errorMessage(NothingToSearchText));
            endRun();
            return FindOutcome::Refused;
        }
        std::string findText = hooks_.findText();
        if (findText.size() > MaximumFindTextLength) {
            findText.resize(MaximumFindTextLength);
        }
        if (findText.empty()) {
            hooks_.showMessage(errorMessage(BlankFindText));
            endRun();
            return FindOutcome::Refused;
        }

        switch (searchPass(findText, hooks_.matchCase())) {
            case PassResult::Stopped:
                endRun();
                return FindOutcome::Stopped;
            case PassResult::NothingFound:
                hooks_.clearSelection();
                hooks_.showMessage(errorMessage(NothingFoundText));
                endRun();
                return FindOutcome::NothingFound;
            case PassResult::Found:
                break;
        }
        const UserMessage again{std::string(SearchAgainText), std::string(SearchAgainCaption),
                                MessageIcon::Question};
        if (!hooks_.ask(again)) {
            endRun();
            return FindOutcome::Complete;
        }
        // Searching again is a new find: it starts afresh, with the text the box holds now.
        stopSearch.store(false);
    }
}

PacketFinder::PassResult PacketFinder::searchPass(std::string_view findText, bool matchCase) {
    // Slots stored after this point are not searched by this pass.
    const std::int32_t count = table_.storedCount();
    hooks_.setProgressRange(count);
    hooks_.showProgressBar(true);

    const SubstringSearcher searcher(matchCase ? std::string(findText) : foldToLowerCase(findText));
    const std::size_t needleLength = searcher.needle().size();
    std::string searchText;
    bool found = false;
    std::int32_t slot = 0;
    while (slot < count) {
        std::int32_t matchRow = -1;
        std::int32_t matchSlot = -1;
        bool stopped = false;
        {
            const PacketTable::Access access = table_.lock();
            const PacketStore& store = access.store();
            std::size_t chunkBytes = 0;
            const std::int32_t chunkEnd = count - slot > ChunkSlots ? slot + ChunkSlots : count;
            for (; slot < chunkEnd && chunkBytes < ChunkBytes; ++slot) {
                if (stopSearch.load(std::memory_order_relaxed)) {
                    stopped = true;
                    break;
                }
                const DatagramView datagram(store.packet(slot), store.length(slot));
                const std::span<const std::uint8_t> payload = datagram.payload();
                chunkBytes += payload.size();
                if (payload.size() < needleLength) {
                    continue;
                }
                if (!searcher.occursIn(makeSearchText(payload, !matchCase, searchText))) {
                    continue;
                }
                // A slot whose row was deleted counts as found but is not shown.
                found = true;
                const std::int32_t row = findRowOfSlot(access.list(), slot);
                if (row >= 0) {
                    matchRow = row;
                    matchSlot = slot++;
                    break;
                }
            }
        }
        if (stopped) {
            hooks_.showProgressBar(false);
            return PassResult::Stopped;
        }
        hooks_.setProgress(slot);
        std::this_thread::sleep_for(ChunkPause);
        if (matchRow >= 0) {
            hooks_.showProgressBar(false);
            findNext.store(false);
            hooks_.selectMatch(matchRow, matchSlot);
            if (!waitAtMatch()) {
                return PassResult::Stopped;
            }
            hooks_.showProgressBar(true);
        }
    }
    hooks_.showProgressBar(false);
    return found ? PassResult::Found : PassResult::NothingFound;
}

bool PacketFinder::waitAtMatch() {
    for (;;) {
        if (stopSearch.load()) {
            return false;
        }
        if (findNext.load()) {
            return true;
        }
        std::this_thread::sleep_for(MatchPollInterval);
    }
}

}  // namespace qhs
