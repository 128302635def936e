#include "app/CommandLine.h"

#include <array>

namespace qhs {

std::string commandLineText(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) {
        if (!text.empty()) {
            text += ' ';
        }
        text += argument;
    }
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

CommandLineAction parseCommandLine(std::string_view text) {
    if (text.empty()) {
        return CommandLineAction::StartWithInstallCheck;
    }
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    struct Option {
        std::string_view name;
        CommandLineAction action;
    };
    constexpr std::array<Option, 4> options = {{
        {"noinstall", CommandLineAction::StartWithoutInstall},
        {"uninstall", CommandLineAction::Uninstall},
        {"?", CommandLineAction::ShowHelp},
        {"help", CommandLineAction::ShowHelp},
    }};
    for (const Option& option : options) {
        const std::string_view name = lower;
        if (name == option.name ||
            ((name.front() == '/' || name.front() == '-') && name.substr(1) == option.name)) {
            return option.action;
        }
    }
    return CommandLineAction::NotImplemented;
}

bool asksForHelpWithoutDisplay(std::string_view text) {
    return parseCommandLine(text) == CommandLineAction::ShowHelp || text == "--help" ||
           text == "-h";
}

std::string terminalHelpText() {
    std::string text;
    for (const char* c = CommandLineHelpText; *c != '\0'; ++c) {
        if (*c != '\r') {
            text += *c;
        }
    }
    text +=
        "\n-sniff      Sniffs in the terminal, without a window (-sniff -help lists its "
        "options).\n";
    return text;
}

}  // namespace qhs
