#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <string>
#include <vector>

#include "PacketListFixture.h"
#include "packetmode/PacketFinder.h"
#include "support/Eventually.h"

namespace qhs {
namespace {

using test::PacketListFixture;
using test::TestDatagram;

struct Match {
    std::int32_t row;
    std::int32_t slot;
    bool operator==(const Match&) const = default;
};

// Runs finds against a scripted window: what it shows is recorded, what it answers is set
// beforehand.
class PacketFind : public testing::Test {
  protected:
    PacketFind() : finder(*packets.table, hooks()) {}

    FindHooks hooks() {
        FindHooks hooks;
        hooks.findText = [this] { return findText; };
        hooks.matchCase = [this] { return matchCase; };
        hooks.setProgressRange = [this](std::int32_t count) { progressRange = count; };
        hooks.setProgress = [this](std::int32_t slot) { lastProgress = slot; };
        hooks.showProgressBar = [this](bool shown) { progressBarShown = shown; };
        hooks.selectMatch = [this](std::int32_t row, std::int32_t slot) {
            EXPECT_FALSE(progressBarShown);
            matches.push_back({row, slot});
            atMatch(finder);
        };
        hooks.clearSelection = [this] { ++selectionsCleared; };
        hooks.showMessage = [this](const UserMessage& message) { messages.push_back(message); };
        hooks.ask = [this](const UserMessage& question) {
            questions.push_back(question);
            const bool yes = !answers.empty() && answers.front();
            if (!answers.empty()) {
                answers.pop_front();
            }
            if (yes && !nextFindText.empty()) {
                findText = nextFindText;
            }
            return yes;
        };
        return hooks;
    }

    std::int32_t addTcp(std::string_view payload) {
        return packets.add(TestDatagram{}.withPayload(payload));
    }

    PacketListFixture packets;
    std::string findText;
    std::string nextFindText;
    bool matchCase = false;
    std::deque<bool> answers;  // to the search-again question; No when none is left
    std::function<void(PacketFinder&)> atMatch = [](PacketFinder& f) { f.findNext = true; };

    std::int32_t progressRange = -1;
    std::int32_t lastProgress = -1;
    bool progressBarShown = false;
    std::vector<Match> matches;
    int selectionsCleared = 0;
    std::vector<UserMessage> messages;
    std::vector<UserMessage> questions;

    PacketFinder finder;  // last: its hooks use the members above
};

const UserMessage SearchAgain{"Search is complete.\r\n\r\nWould you like to search again?",
                              "Search again?", MessageIcon::Question};
const UserMessage NothingFound{"No instance of string found.", "Error", MessageIcon::None};

TEST_F(PacketFind, MatchCaseDecidesWhetherLowerCaseFindsUpperCase) {
    addTcp("GET /index.html HTTP/1.1");
    findText = "get";
    EXPECT_EQ(finder.run(), FindOutcome::Complete);
    EXPECT_EQ(matches, (std::vector<Match>{{0, 0}}));
    EXPECT_EQ(questions, std::vector<UserMessage>{SearchAgain});

    matchCase = true;
    matches.clear();
    EXPECT_EQ(finder.run(), FindOutcome::NothingFound);
    EXPECT_TRUE(matches.empty());
    EXPECT_EQ(selectionsCleared, 1);
    EXPECT_EQ(messages, std::vector<UserMessage>{NothingFound});
    EXPECT_FALSE(finder.searchRunning);
    EXPECT_FALSE(progressBarShown);
}

TEST_F(PacketFind, SearchesThePayloadOnlyWithZeroBytesAsSpaces) {
    std::vector<std::uint8_t> header = TestDatagram{}.withPayload("tail").bytes();
    const char inHeader[] = "WXYZ";
    std::copy(inHeader, inHeader + 4, header.begin() + 24);  // the sequence number
    packets.add(header);
    addTcp(std::string("A\0B", 3));
    addTcp("ends with GET");

    findText = "WXYZ";
    EXPECT_EQ(finder.run(), FindOutcome::NothingFound);

    findText = "A B";
    EXPECT_EQ(finder.run(), FindOutcome::Complete);
    EXPECT_EQ(matches, (std::vector<Match>{{1, 1}}));

    // The space would have to be a byte after the payload's end.
    findText = "GET ";
    EXPECT_EQ(finder.run(), FindOutcome::NothingFound);
}

TEST_F(PacketFind, FindNextMovesFromShownMatchToShownMatchInSlotOrder) {
    addTcp("needle one");
    addTcp("needle hidden");
    addTcp("needle two");
    addTcp("needle three");
    // Slot 1's row is deleted, and the last two rows are swapped.
    packets.table->lock().list().removeRow(1);
    packets.table->lock().list().reorder(std::vector<PacketRow>{{0, 0}, {3, 0}, {2, 0}});
    findText = "NEEDLE";
    EXPECT_EQ(finder.run(), FindOutcome::Complete);
    EXPECT_EQ(matches, (std::vector<Match>{{0, 0}, {2, 2}, {1, 3}}));
    EXPECT_EQ(lastProgress, 4);

    // A match on a deleted row alone still counts as found.
    matches.clear();
    findText = "hidden";
    EXPECT_EQ(finder.run(), FindOutcome::Complete);
    EXPECT_TRUE(matches.empty());
    EXPECT_EQ(questions, (std::vector<UserMessage>{SearchAgain, SearchAgain}));
}

TEST_F(PacketFind, SearchingAgainStartsOverWithTheTextThenInTheBox) {
    addTcp("alpha");
    addTcp("beta");
    findText = "alpha";
    nextFindText = "beta";
    answers = {true, false};
    EXPECT_EQ(finder.run(), FindOutcome::Complete);
    EXPECT_EQ(matches, (std::vector<Match>{{0, 0}, {1, 1}}));
    EXPECT_EQ(questions.size(), 2u);
}

TEST_F(PacketFind, StopWhileWaitingAtAMatchEndsWithoutAMessage) {
    addTcp("match");
    addTcp("match");
    findText = "match";
    atMatch = [](PacketFinder& f) { f.stopIfRunning(); };
    EXPECT_EQ(finder.run(), FindOutcome::Stopped);
    EXPECT_EQ(matches.size(), 1u);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(questions.empty());
    EXPECT_FALSE(finder.searchRunning);
    EXPECT_FALSE(finder.stopSearch);
    EXPECT_FALSE(progressBarShown);
}

TEST_F(PacketFind, RefusesAnEmptyListAndABlankText) {
    findText = "x";
    EXPECT_EQ(finder.run(), FindOutcome::Refused);
    addTcp("x");
    findText = "";
    EXPECT_EQ(finder.run(), FindOutcome::Refused);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0], messages[1]);
    EXPECT_EQ(messages[1].caption, "Error");
    EXPECT_EQ(progressRange, -1);
    EXPECT_FALSE(finder.searchRunning);
}

TEST_F(PacketFind, OnItsOwnThreadFindNextAndTypingReachTheWaitingSearch) {
    addTcp("hit");
    addTcp("hit");
    addTcp("hit");
    findText = "hit";
    std::atomic<int> seen{0};
    atMatch = [&seen](PacketFinder&) { ++seen; };
    const auto waitForMatches = [&seen](int count) {
        eventually([&] { return seen.load() >= count; });
        return seen.load();
    };

    finder.findOrNext();
    EXPECT_TRUE(finder.searchRunning);
    ASSERT_EQ(waitForMatches(1), 1);
    finder.findOrNext();  // "Find / Next" while waiting: on to the next match
    ASSERT_EQ(waitForMatches(2), 2);
    finder.stopIfRunning();  // typing in the find box
    eventually([&] { return !finder.searchRunning; });
    EXPECT_FALSE(finder.searchRunning);
    EXPECT_EQ(seen.load(), 2);
    EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace qhs
