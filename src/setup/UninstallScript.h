#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qhs {

// The text as one sh word that the shell takes literally, whatever it holds: in single
// quotes, each ' written as '\''.
std::string shellQuoted(std::string_view text);

// The script's path: the temporary directory followed by "Quillharbour Sniffer1.5.sh".
std::string uninstallScriptPath(std::string_view temporaryDirectory);

// The sh script that finishes an un-installation once the program has ended: in the
// directory of `programPath` it removes the executable, the settings file and the shortcuts'
// icon by their product names, then the directory if nothing else is left in it, and last
// the script at `scriptPath` itself. Every path is quoted, so no path can run a command.
// Nothing when `programPath` is not a full path (the program's own path could not be had):
// the script runs from "/", where a guessed directory would name files that are not the
// program's.
std::optional<std::string> uninstallScriptText(std::string_view programPath,
                                               std::string_view scriptPath);

}  // namespace qhs
