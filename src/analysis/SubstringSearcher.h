#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qhs {

// A search string prepared once and then looked for in many texts. Candidates are found
// with memchr on the string's rarest byte (rare in network payloads and text) and checked
// with memcmp; a text that keeps producing false candidates is finished with the library's
// linear-time search, so no payload can make a search slow.
class SubstringSearcher {
  public:
    SubstringSearcher() = default;
    explicit SubstringSearcher(std::string needle);

    const std::string& needle() const { return needle_; }
    bool empty() const { return needle_.empty(); }

    // Whether the needle stands as a contiguous substring, byte for byte, in the text. An
    // empty needle occurs nowhere: empty search strings are out of force, not wildcards.
    bool occursIn(std::string_view text) const;

  private:
    std::string needle_;
    std::size_t rareIndex_ = 0;
};

}  // namespace qhs
