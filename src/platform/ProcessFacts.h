#pragma once

#include <string>

namespace qhs {

// The full path of the running executable (at most 10000 characters), or empty.
std::string executablePath();

}  // namespace qhs
