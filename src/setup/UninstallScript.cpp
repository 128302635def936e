#include "setup/UninstallScript.h"

#include "app/Product.h"
#include "setup/SetupNames.h"

namespace qhs {

std::string shellQuoted(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string uninstallScriptPath(std::string_view temporaryDirectory) {
    return withTrailingSlash(temporaryDirectory) + std::string(UninstallScriptName);
}

std::optional<std::string> uninstallScriptText(std::string_view programPath,
                                               std::string_view scriptPath) {
    if (!programPath.starts_with('/')) {
        return std::nullopt;
    }
    const std::string directory = shellQuoted(directoryOf(programPath));
    std::string text;
    text += "# - File created by " + std::string(ProductName) + ' ' + std::string(ProductVersion) +
            '\n';
    text += "cd / || exit 1\n";
    // Nothing is removed unless the program's directory could be entered.
    text += "if cd -- " + directory + " 2>/dev/null; then\n";
    text += "    rm -f -- " + shellQuoted(ExecutableName) + '\n';
    text += "    rm -f -- " + shellQuoted(SettingsFileName) + '\n';
    text += "    rm -f -- " + shellQuoted(IconFileName) + '\n';
    text += "    cd ..\n";
    text += "    rmdir -- " + directory + " 2>/dev/null\n";
    text += "fi\n";
    text += "cd /\n";
    text += "rm -f -- " + shellQuoted(scriptPath) + '\n';
    return text;
}

}  // namespace qhs
