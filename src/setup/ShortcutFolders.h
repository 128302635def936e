#pragma once

#include <string>

namespace qhs {

// The folders that hold the program's shortcuts. An empty folder means there is no such
// place on this system (Linux has no desktop shared by all users), and its shortcut is
// skipped.
struct ShortcutFolders {
    std::string userDesktop;
    std::string allUsersDesktop;
    std::string userStartMenu;
    std::string allUsersStartMenu;
};

}  // namespace qhs
