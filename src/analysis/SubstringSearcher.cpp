#include "analysis/SubstringSearcher.h"

#include <string.h>  // memmem
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

namespace qhs {

namespace {

// How common a byte is in payloads and text, higher is more common; a guess good enough to
// make the memchr candidate byte rare. Bytes not listed (punctuation, control and high
// bytes) count as rare.
constexpr std::array<std::uint8_t, 256> byteCommonness() {
    std::array<std::uint8_t, 256> rank{};
    const char* byFrequency = "etaoinsrhldcumfpgwybvkxjqz";
    for (int i = 0; byFrequency[i] != '\0'; ++i) {
        const auto letter = static_cast<std::uint8_t>(byFrequency[i]);
        rank[letter] = static_cast<std::uint8_t>(200 - i * 4);
        rank[letter - 'a' + 'A'] = static_cast<std::uint8_t>(100 - i * 2);
    }
    for (char digit = '0'; digit <= '9'; ++digit) {
        rank[static_cast<std::uint8_t>(digit)] = 120;
    }
    rank[' '] = 255;  // also every zero byte of a payload
    rank['\r'] = 150;
    rank['\n'] = 150;
    rank['.'] = 110;
    rank['/'] = 110;
    rank[':'] = 100;
    rank['-'] = 100;
    rank['='] = 90;
    rank[0xFF] = 90;
    rank[0x01] = 60;
    return rank;
}

constexpr std::array<std::uint8_t, 256> ByteCommonness = byteCommonness();

// False candidates allowed before the search switches to memmem, on top of one per 32 bytes
// of text; ordinary texts never reach it.
constexpr std::size_t FalseCandidateAllowance = 16;

}  // namespace

SubstringSearcher::SubstringSearcher(std::string needle) : needle_(std::move(needle)) {
    for (std::size_t i = 1; i < needle_.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(needle_[i]);
        const auto best = static_cast<std::uint8_t>(needle_[rareIndex_]);
        if (ByteCommonness[byte] < ByteCommonness[best]) {
            rareIndex_ = i;
        }
    }
}

bool SubstringSearcher::occursIn(std::string_view text) const {
    const std::size_t length = needle_.size();
    if (length == 0 || length > text.size()) {
        return false;
    }
    const char* const start = text.data();
    const char* const needle = needle_.data();
    const int rareByte = static_cast<std::uint8_t>(needle_[rareIndex_]);
    // The rare byte of a match at position p lies at p + rareIndex_, p from 0 to
    // text.size() - length.
    const char* candidate = start + rareIndex_;
    const char* const candidateEnd = start + (text.size() - length) + rareIndex_ + 1;
    std::size_t allowance = FalseCandidateAllowance + text.size() / 32;
    while (candidate < candidateEnd) {
        candidate = static_cast<const char*>(
            std::memchr(candidate, rareByte, static_cast<std::size_t>(candidateEnd - candidate)));
        if (candidate == nullptr) {
            return false;
        }
        const char* const match = candidate - rareIndex_;
        if (std::memcmp(match, needle, length) == 0) {
            return true;
        }
        if (--allowance == 0) {
            const auto rest = static_cast<std::size_t>(start + text.size() - match);
            return ::memmem(match, rest, needle, length) != nullptr;
        }
        ++candidate;
    }
    return false;
}

}  // namespace qhs
