#pragma once

#include <string>
#include <string_view>

#include "app/Product.h"

namespace qhs {

// Where the installer records the program and where the un-installer finds it. The key
// paths keep the product's registry form; on Linux they name sections of the install
// registry file.
inline constexpr std::string_view ProductKey = "SOFTWARE\\Quillharbour\\Sniffer";
inline constexpr std::string_view UninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillharbour Sniffer 1.5";
// The product key's value naming the installed executable; the value named after the
// version itself marks that this version was installed.
inline constexpr std::string_view InstalledPathValueName = "1.5EXENameAndPath";
inline constexpr std::string_view VersionMarkerValueName = ProductVersion;
inline constexpr std::string_view Publisher = "Quillharbour";
// "Quillharbour Sniffer 1.5": the uninstall entry's display name and the shortcuts' name.
inline constexpr std::string_view ProductTitle = "Quillharbour Sniffer 1.5";
inline constexpr std::string_view ShortcutFileName = "Quillharbour Sniffer 1.5.desktop";
inline constexpr std::string_view SettingsFileName = "QuillharbourSnifferV1.5.QHS";
// The shortcuts' icon, beside the installed executable.
inline constexpr std::string_view IconFileName = "QuillharbourSnifferV1.5.png";
inline constexpr std::string_view UninstallScriptName = "Quillharbour Sniffer1.5.sh";
// Proposed at start and put back after a failed copy.
inline constexpr std::string_view DefaultInstallDirectory = "/opt/Quillharbour Sniffer 1.5/";
// The un-installer's command line ends in this option; start-up takes it in any case.
inline constexpr std::string_view UninstallOption = "UnInstall";

// The hand-over argument without its leading blank: one argument of its own on Linux.
std::string handOverArgumentWord();

// The folder part of a path, up to and not including its last '/' ("/" for a file in the
// root, "" for a bare name).
std::string directoryOf(std::string_view path);

// A directory text with exactly one '/' added when it does not already end in one.
std::string withTrailingSlash(std::string_view directory);

}  // namespace qhs
