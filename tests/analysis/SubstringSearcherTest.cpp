#include <gtest/gtest.h>

#include <random>
#include <string>

#include "analysis/SubstringSearcher.h"

namespace qhs {
namespace {

TEST(SubstringSearcher, AgreesWithAPlainSearchOnRandomTexts) {
    std::mt19937 random(3);
    // A small alphabet makes many partial matches and candidates.
    const std::string alphabet = "abAB \x01\xFF";
    auto randomText = [&](std::size_t length) {
        std::string text(length, ' ');
        for (char& c : text) {
            c = alphabet[random() % alphabet.size()];
        }
        return text;
    };
    for (int round = 0; round < 20000; ++round) {
        const std::string needle = randomText(1 + random() % 6);
        const std::string text = randomText(random() % 80);
        ASSERT_EQ(SubstringSearcher(needle).occursIn(text), text.find(needle) != std::string::npos)
            << "needle '" << needle << "' text '" << text << "'";
    }
}

TEST(SubstringSearcher, FindsMatchesAtBothEndsAndNothingInShorterTexts) {
    const SubstringSearcher searcher("GET /");
    EXPECT_TRUE(searcher.occursIn("GET /index"));
    EXPECT_TRUE(searcher.occursIn("xx GET /"));
    EXPECT_FALSE(searcher.occursIn("GET "));
    EXPECT_FALSE(searcher.occursIn(""));
    EXPECT_FALSE(SubstringSearcher("").occursIn("anything"));
}

TEST(SubstringSearcher, ManyFalseCandidatesStillGiveTheRightAnswer) {
    // Every position is a candidate for the rare byte; the search must finish linearly
    // and still see the match at the very end.
    std::string text(20000, '\x01');
    const SubstringSearcher searcher(std::string(40, '\x01') + "!");
    EXPECT_FALSE(searcher.occursIn(text));
    text += '!';
    EXPECT_TRUE(searcher.occursIn(text));
}

}  // namespace
}  // namespace qhs
