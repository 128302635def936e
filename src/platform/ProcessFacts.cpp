#include "platform/ProcessFacts.h"

#include <unistd.h>

namespace qhs {

std::string executablePath() {
    char path[10000];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0) {
        return {};
    }
    return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace qhs
