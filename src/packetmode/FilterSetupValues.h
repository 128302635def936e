#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/SettingsRecord.h"

namespace qhs {

// The five address lists and the five port fields, in the order the window shows them.
enum FilterListIndex : std::size_t {
    SourceList,
    SourceNotList,
    DestinationList,
    DestinationNotList,
    EitherList,
    FilterListCount
};

// The packet filter fields of the settings record in the form the Filter setup dialog
// edits them: texts and address rows. read() fills it from the record, store() writes it
// back. Bad text never fails: a port text without digits is an empty list, a size that is
// no number is 0.
struct FilterSetupValues {
    std::array<std::string, FilterListCount> addressEntries;
    // Dotted addresses, the top row first; the top row is entry 0 of the stored list.
    std::array<std::vector<std::string>, FilterListCount> addressRows;
    std::array<std::string, FilterListCount> portTexts;
    std::array<std::string, 3> containsStrings;
    std::array<std::string, 3> lacksStrings;
    std::string resolverHost;
    bool allowTcp = true;
    bool allowUdp = true;
    bool allowIcmp = true;
    bool allowOther = true;
    std::string minimumSizeText;
    std::string maximumSizeText;
    // The bounds as the record held them. A size text left as it was read stores its bound
    // unchanged, so a value beyond the signed range (0xFFFFFFFF, a bound of -1) survives
    // an OK without an edit instead of becoming the largest signed number.
    std::uint32_t minimumSizeAsRead = 0;
    std::uint32_t maximumSizeAsRead = 0;

    static FilterSetupValues read(const SettingsRecord& record);
    // Writes every filter field; all 100 entries of each list, so a shortened list leaves
    // nothing of the old one behind.
    void store(SettingsRecord& record) const;

    // Add IP: puts the entry on top of the rows unless it reads as 0.0.0.0 (or blank), is
    // already a row, or the list is full. Returns whether it was added.
    static bool addAddressRow(std::vector<std::string>& rows, std::string_view entry);
};

}  // namespace qhs
