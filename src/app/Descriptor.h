#pragma once

#include <string_view>

namespace qhs {

// A file descriptor that is closed when it goes out of scope.
struct Descriptor {
    int value = -1;

    Descriptor() = default;
    explicit Descriptor(int opened) : value(opened) {}
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    // Closes it now; false when closing reported an error (a write that did not land).
    bool close();
};

// Writes all of `bytes`, going on after interruptions and partial writes.
bool writeAll(int descriptor, std::string_view bytes);

}  // namespace qhs
