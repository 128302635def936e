#pragma once

#include <string_view>

namespace qhs {

inline constexpr std::string_view ProductName = "Quillharbour Sniffer";
inline constexpr std::string_view ProductVersion = "1.5";
inline constexpr std::string_view ExecutableName = "QuillharbourSnifferV1.5.exe";
inline constexpr std::string_view VersionMarkerName = "QuillharbourSnifferV1.5.chk";

// The application's name when the running executable is not known: ExecutableName without
// its extension (applicationName() gives the running one's).
inline constexpr std::string_view ApplicationName = "QuillharbourSnifferV1.5";

// The maker's web server: its site opens from the logos, and it answers the version check.
inline constexpr std::string_view MakerHost = "www.quillharbour.example";
inline constexpr std::string_view MakerWebSite = "http://www.quillharbour.example/";
inline constexpr std::string_view MakerSupportMail = "mailto:support@quillharbour.example";
// The support address itself, as the About dialog shows it.
inline constexpr std::string_view MakerSupportAddress =
    MakerSupportMail.substr(std::string_view("mailto:").size());

}  // namespace qhs
