#pragma once

#include <span>
#include <string_view>

namespace qhs {

// The About dialog's greeting; each paragraph begins with four blanks.
inline constexpr std::string_view AboutGreeting =
    "    In a world of spyware and ads, Quillharbour Sniffer cuts through with the best. If you "
    "like this program, show your support by spreading good word about it.\r\n\r\n    If you "
    "were unable to find the answer to one or more of your questions in the help of this "
    "program and on the website, you may send an e-mail message using the address below.";

inline constexpr std::string_view AboutCredit = "The peoples software, provided by\r\nQuillharbour";

// The rows of the version change history, top to bottom; the last row is empty.
std::span<const std::string_view> versionHistoryRows();

}  // namespace qhs
