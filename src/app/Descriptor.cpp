#include "app/Descriptor.h"

#include <unistd.h>

#include <cerrno>

namespace qhs {

Descriptor::~Descriptor() {
    if (value >= 0) {
        ::close(value);
    }
}

bool Descriptor::close() {
    const int closing = value;
    value = -1;
    return closing >= 0 && ::close(closing) == 0;
}

bool writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(descriptor, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

}  // namespace qhs
