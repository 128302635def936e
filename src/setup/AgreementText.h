#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace qhs {

inline constexpr std::size_t AgreementRowCount = 82;

// The end-user agreement, one pre-broken line per row, top to bottom.
const std::array<std::string_view, AgreementRowCount>& agreementRows();

}  // namespace qhs
