#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qhs {

enum class CommandLineAction {
    StartWithInstallCheck,  // empty command line
    StartWithoutInstall,    // "noinstall"
    Uninstall,              // "uninstall"
    ShowHelp,               // "?" or "help"
    NotImplemented,         // anything else
};

// The arguments after the program name joined by single blanks and trimmed.
std::string commandLineText(const std::vector<std::string>& arguments);

// Compares the whole text, in any letter case, with the known options (each alone, bare or
// with "/" or "-"); two options together count as anything else.
CommandLineAction parseCommandLine(std::string_view text);

inline constexpr const char* CommandLineHelpText =
    "Current available command line options:\r\n\r\n-uninstall  Runs the un-installation "
    "system.\r\n-noinstall  Runs the program without asking to install (does not require the "
    "program to be installed).\r\n-help / -?  Displays this message.";

inline constexpr const char* CommandLineNotImplementedText =
    "Command line sniffing is not currently implemented ;(\r\nTo see available command "
    "options, use -help";

// Whether a command line that cannot open a window asks for help instead: the help options
// above, or a terminal user's "--help" or "-h".
bool asksForHelpWithoutDisplay(std::string_view text);

// The help text for a terminal, which also names the command line's own sniffing.
std::string terminalHelpText();

// The one line said when no display can be opened.
inline constexpr const char* NoDisplayText =
    "no display could be opened (is DISPLAY set?); to sniff in a terminal without one, use "
    "-sniff (-sniff -help lists its options)";

// The argument an installed copy is started with when start-up hands over to it.
inline constexpr const char* HandOverArgument = " NoInstall";

}  // namespace qhs
