#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/UserMessage.h"
#include "app/WorkerThread.h"
#include "capture/PacketTable.h"

namespace qhs {

inline constexpr std::size_t MaximumFindTextLength = 9999;

// The window's side of a find. The hooks run on the find thread and may wait for the
// window; none is called while the list guard is held.
struct FindHooks {
    // The text of the find box and the state of "Match case for Find and Filters", read at
    // the start of every pass.
    std::function<std::string()> findText;
    std::function<bool()> matchCase;
    // Sets the range of the operation progress bar to 0..count.
    std::function<void(std::int32_t count)> setProgressRange;
    // The next slot to be searched; called after every chunk of slots.
    std::function<void(std::int32_t slot)> setProgress;
    // true: hide the list and show the progress bar in its place; false: the reverse.
    std::function<void(bool shown)> showProgressBar;
    // Makes `row` (showing `slot`) the selection mark and the hot row and scrolls it into
    // view; the detail view follows the selection.
    std::function<void(std::int32_t row, std::int32_t slot)> selectMatch;
    // Nothing was found: remove the hot row, select nothing, scroll to the end of the list
    // and empty the detail view.
    std::function<void()> clearSelection;
    // A message box owned by the window with an OK button.
    std::function<void(const UserMessage& message)> showMessage;
    // A Yes/No question owned by the window; true for Yes.
    std::function<bool(const UserMessage& question)> ask;
};

enum class FindOutcome {
    Refused,       // nothing to search or nothing to search for; the refusal was shown
    Stopped,       // stopSearch ended it, without a message
    Complete,      // something was found and the user declined to search again
    NothingFound,  // "No instance of string found." was shown
};

// Find in packets: searches the payloads of the stored datagrams, in slot order, for the text
// of the find box, stops at every slot whose row is still listed, and waits there until the
// user asks for the next one.
//
// The store is read under the list guard, taken for one chunk of slots at a time (at most
// two megabytes of payload, a millisecond or two), so capture, Clear and the other list users
// wait at most a moment; the guard is never held while a hook runs or while the search waits
// at a match. findOrNext, stopIfRunning and the destructor belong to the window's thread.
class PacketFinder {
  public:
    // `onFindThread` runs first on each find thread (the window lowers its priority there).
    PacketFinder(PacketTable& table, FindHooks hooks, std::function<void()> onFindThread = {});
    // Stops a running search and waits for its thread, so the hooks must not wait for a
    // window that is already gone.
    ~PacketFinder();
    PacketFinder(const PacketFinder&) = delete;
    PacketFinder& operator=(const PacketFinder&) = delete;

    // "Find / Next": asks a running search to go on (findNext), or starts a find thread.
    void findOrNext();
    // The find text changed, or Clear begins: a running search ends without a message.
    void stopIfRunning();
    // Joins the thread of a search that has ended; call from the thread that starts them.
    void joinIfEnded();

    // The whole of one find thread's work on the calling thread: the refusals, the passes
    // over the store and the search-again prompt. findOrNext runs it on a new thread.
    FindOutcome run();

    // A find thread exists, from its start until it ends.
    std::atomic<bool> searchRunning{false};
    // Asks the running search to end at once.
    std::atomic<bool> stopSearch{false};
    // Asks a search that waits at a match to go on.
    std::atomic<bool> findNext{false};

  private:
    enum class PassResult { Stopped, Found, NothingFound };
    FindOutcome runPasses();
    PassResult searchPass(std::string_view findText, bool matchCase);
    bool waitAtMatch();
    void endRun();

    PacketTable& table_;
    FindHooks hooks_;
    std::function<void()> onFindThread_;
    WorkerThread thread_;
};

}  // namespace qhs
