#pragma once

#include <string>
#include <string_view>

namespace qhs {

// The application's name, which message boxes without a caption of their own carry: the
// running executable's file name without its folder and extension, so a renamed copy
// says its own name. Until start-up names the executable it is the product's.
std::string applicationName();

// Start-up: takes the name from the running executable's path. A path that could not be
// had (empty, or ending in a folder) gives the product's name.
void setApplicationNameFromPath(std::string_view executablePath);

}  // namespace qhs
