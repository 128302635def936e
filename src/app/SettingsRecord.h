#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace qhs {

inline constexpr std::size_t SettingsRecordSize = 20668;
inline constexpr std::size_t FilterListLength = 100;

// The templates of a first run, which the General settings' Default buttons restore.
inline constexpr std::string_view DefaultFileNameTemplate = "%SIP to %DIP - [%DAT]";
inline constexpr std::string_view DefaultDateTimeTemplate = "%Y.%MY.%D - %H24:%MN:%S.%MS";

// Every setting of the program in one fixed record. The file holds these bytes as they
// lie in memory (little-endian, no header), so every offset below is the file format.
// The natural alignment of each field already matches its offset; the explicit pad and
// reserved arrays make every byte a named member, and the static_asserts below pin it.
struct SettingsRecord {
    std::uint8_t showModeChoice;
    std::uint8_t pad1[3];
    std::uint32_t snifferMode;
    char interfaceAddress[1024];
    std::uint8_t saveIncludeData;
    std::uint8_t saveDataDec;
    std::uint8_t saveDataHex;
    std::uint8_t saveDataText;
    std::uint8_t reserved1[2048];
    char findText[1024];
    std::uint8_t matchCase;
    std::uint8_t soundOnNewPacket;
    std::uint8_t detailShowText;
    std::uint8_t detailShowDec;
    std::uint8_t detailShowHex;
    char fileOutputDirectory[1024];
    std::uint8_t fileOverwrite;
    std::uint16_t ackTimeoutMs;
    std::uint8_t fileHttpOnly;
    char fileSourceIpMust[20];
    char fileSourceIpMustNot[20];
    char fileDestIpMust[20];
    char fileDestIpMustNot[20];
    std::uint8_t pad2[1];
    std::uint16_t fileSourcePortMust;
    std::uint16_t fileSourcePortMustNot;
    std::uint16_t fileDestPortMust;
    std::uint16_t fileDestPortMustNot;
    std::uint8_t pad3[2];
    std::uint32_t fileMinSize;
    std::uint32_t fileMaxSize;
    std::uint8_t applyFilters;
    char filterSourceIpEntry[20];
    char filterSourceIpNotEntry[20];
    char filterDestIpEntry[20];
    char filterDestIpNotEntry[20];
    std::uint8_t reserved2[9];
    char filterContains1[1024];
    char filterLacks1[1024];
    char fileResolverHost[1024];
    char filterResolverHost[1024];
    std::uint8_t filterAllowTcp;
    std::uint8_t filterAllowUdp;
    std::uint8_t filterAllowIcmp;
    std::uint8_t filterAllowOther;
    std::uint8_t pad4[2];
    std::uint32_t filterMinSize;
    std::uint32_t filterMaxSize;
    std::uint32_t filterSourceIps[FilterListLength];
    std::uint32_t filterSourceIpsNot[FilterListLength];
    std::uint32_t filterDestIps[FilterListLength];
    std::uint32_t filterDestIpsNot[FilterListLength];
    std::uint8_t autoLog;
    char logFilePath[1024];
    std::uint8_t pad5[3];
    std::int32_t logIntervalSeconds;
    std::uint8_t logDataText;
    std::uint8_t logDataDec;
    std::uint8_t logDataHex;
    char filterEitherIpEntry[20];
    std::uint8_t pad6[1];
    std::uint32_t filterEitherIps[FilterListLength];
    std::uint16_t filterSourcePorts[FilterListLength];
    std::uint16_t filterDestPorts[FilterListLength];
    std::uint16_t filterSourcePortsNot[FilterListLength];
    std::uint16_t filterDestPortsNot[FilterListLength];
    std::uint16_t filterEitherPorts[FilterListLength];
    char filterContains2[1024];
    char filterLacks2[1024];
    char filterContains3[1024];
    char filterLacks3[1024];
    char soundFilePath[1024];
    std::uint8_t useWindowsColors;
    std::uint8_t noTaskbarBlink;
    char fileNameTemplate[1024];
    char dateTimeTemplate[1024];
    std::uint8_t pad7[2];
};

static_assert(std::is_standard_layout_v<SettingsRecord>);
static_assert(std::is_trivially_copyable_v<SettingsRecord>);
static_assert(sizeof(SettingsRecord) == SettingsRecordSize);
static_assert(offsetof(SettingsRecord, showModeChoice) == 0);
static_assert(offsetof(SettingsRecord, snifferMode) == 4);
static_assert(offsetof(SettingsRecord, interfaceAddress) == 8);
static_assert(offsetof(SettingsRecord, saveIncludeData) == 1032);
static_assert(offsetof(SettingsRecord, saveDataDec) == 1033);
static_assert(offsetof(SettingsRecord, saveDataHex) == 1034);
static_assert(offsetof(SettingsRecord, saveDataText) == 1035);
static_assert(offsetof(SettingsRecord, reserved1) == 1036);
static_assert(offsetof(SettingsRecord, findText) == 3084);
static_assert(offsetof(SettingsRecord, matchCase) == 4108);
static_assert(offsetof(SettingsRecord, soundOnNewPacket) == 4109);
static_assert(offsetof(SettingsRecord, detailShowText) == 4110);
static_assert(offsetof(SettingsRecord, detailShowDec) == 4111);
static_assert(offsetof(SettingsRecord, detailShowHex) == 4112);
static_assert(offsetof(SettingsRecord, fileOutputDirectory) == 4113);
static_assert(offsetof(SettingsRecord, fileOverwrite) == 5137);
static_assert(offsetof(SettingsRecord, ackTimeoutMs) == 5138);
static_assert(offsetof(SettingsRecord, fileHttpOnly) == 5140);
static_assert(offsetof(SettingsRecord, fileSourceIpMust) == 5141);
static_assert(offsetof(SettingsRecord, fileSourceIpMustNot) == 5161);
static_assert(offsetof(SettingsRecord, fileDestIpMust) == 5181);
static_assert(offsetof(SettingsRecord, fileDestIpMustNot) == 5201);
static_assert(offsetof(SettingsRecord, fileSourcePortMust) == 5222);
static_assert(offsetof(SettingsRecord, fileSourcePortMustNot) == 5224);
static_assert(offsetof(SettingsRecord, fileDestPortMust) == 5226);
static_assert(offsetof(SettingsRecord, fileDestPortMustNot) == 5228);
static_assert(offsetof(SettingsRecord, fileMinSize) == 5232);
static_assert(offsetof(SettingsRecord, fileMaxSize) == 5236);
static_assert(offsetof(SettingsRecord, applyFilters) == 5240);
static_assert(offsetof(SettingsRecord, filterSourceIpEntry) == 5241);
static_assert(offsetof(SettingsRecord, filterSourceIpNotEntry) == 5261);
static_assert(offsetof(SettingsRecord, filterDestIpEntry) == 5281);
static_assert(offsetof(SettingsRecord, filterDestIpNotEntry) == 5301);
static_assert(offsetof(SettingsRecord, reserved2) == 5321);
static_assert(offsetof(SettingsRecord, filterContains1) == 5330);
static_assert(offsetof(SettingsRecord, filterLacks1) == 6354);
static_assert(offsetof(SettingsRecord, fileResolverHost) == 7378);
static_assert(offsetof(SettingsRecord, filterResolverHost) == 8402);
static_assert(offsetof(SettingsRecord, filterAllowTcp) == 9426);
static_assert(offsetof(SettingsRecord, filterAllowUdp) == 9427);
static_assert(offsetof(SettingsRecord, filterAllowIcmp) == 9428);
static_assert(offsetof(SettingsRecord, filterAllowOther) == 9429);
static_assert(offsetof(SettingsRecord, filterMinSize) == 9432);
static_assert(offsetof(SettingsRecord, filterMaxSize) == 9436);
static_assert(offsetof(SettingsRecord, filterSourceIps) == 9440);
static_assert(offsetof(SettingsRecord, filterSourceIpsNot) == 9840);
static_assert(offsetof(SettingsRecord, filterDestIps) == 10240);
static_assert(offsetof(SettingsRecord, filterDestIpsNot) == 10640);
static_assert(offsetof(SettingsRecord, autoLog) == 11040);
static_assert(offsetof(SettingsRecord, logFilePath) == 11041);
static_assert(offsetof(SettingsRecord, logIntervalSeconds) == 12068);
static_assert(offsetof(SettingsRecord, logDataText) == 12072);
static_assert(offsetof(SettingsRecord, logDataDec) == 12073);
static_assert(offsetof(SettingsRecord, logDataHex) == 12074);
static_assert(offsetof(SettingsRecord, filterEitherIpEntry) == 12075);
static_assert(offsetof(SettingsRecord, filterEitherIps) == 12096);
static_assert(offsetof(SettingsRecord, filterSourcePorts) == 12496);
static_assert(offsetof(SettingsRecord, filterDestPorts) == 12696);
static_assert(offsetof(SettingsRecord, filterSourcePortsNot) == 12896);
static_assert(offsetof(SettingsRecord, filterDestPortsNot) == 13096);
static_assert(offsetof(SettingsRecord, filterEitherPorts) == 13296);
static_assert(offsetof(SettingsRecord, filterContains2) == 13496);
static_assert(offsetof(SettingsRecord, filterLacks2) == 14520);
static_assert(offsetof(SettingsRecord, filterContains3) == 15544);
static_assert(offsetof(SettingsRecord, filterLacks3) == 16568);
static_assert(offsetof(SettingsRecord, soundFilePath) == 17592);
static_assert(offsetof(SettingsRecord, useWindowsColors) == 18616);
static_assert(offsetof(SettingsRecord, noTaskbarBlink) == 18617);
static_assert(offsetof(SettingsRecord, fileNameTemplate) == 18618);
static_assert(offsetof(SettingsRecord, dateTimeTemplate) == 19642);
static_assert(offsetof(SettingsRecord, pad7) == 20666);

// The text of a fixed text field: up to its first NUL, and never past its capacity, so a
// field whose bytes hold no NUL (a damaged or foreign file) is still read safely.
template <std::size_t Capacity>
std::string_view textField(const char (&field)[Capacity]) {
    std::size_t length = 0;
    while (length < Capacity && field[length] != '\0') {
        ++length;
    }
    return std::string_view(field, length);
}

// Stores text into a fixed text field, cut to capacity - 1 bytes so the terminator always
// fits; the bytes after the terminator are zeroed.
template <std::size_t Capacity>
void setTextField(char (&field)[Capacity], std::string_view text) {
    static_assert(Capacity > 0);
    const std::size_t length = text.size() < Capacity - 1 ? text.size() : Capacity - 1;
    text.copy(field, length);
    for (std::size_t i = length; i < Capacity; ++i) {
        field[i] = '\0';
    }
}

// Fills the record with the defaults of a first run, with File Sniffer Mode's files going to
// `outputDirectory` (the user's download folder where there is one).
void setDefaultSettings(SettingsRecord& record, std::string_view outputDirectory = "/");
SettingsRecord defaultSettings();

// The settings file of an executable: its path with the last three characters replaced
// by "QHS", whatever those characters are.
std::string settingsFilePath(std::string_view executablePath);

// How reading a settings file went.
enum class SettingsRead {
    Read,       // the record is what the file holds
    Missing,    // there is no such file (or it cannot be opened)
    Untrusted,  // another user could have written it: it was not read
    Short,      // it holds less than a record
};

// A settings file is read only when no one but the running user and root can have written
// it: a regular file owned by one of them, writable by neither its group nor others.
// Otherwise another member of a shared group could steer where this user's program writes.
SettingsRead readSettingsFile(SettingsRecord& record, const std::string& filePath);

// Loads the record from the file; when there is no such file, from `seedPath` (the
// system-wide defaults, if given). A file that cannot be read or trusted, or one shorter
// than the record, gives the defaults; a longer one gives its first bytes. Returns how
// reading `filePath` went; nothing is reported.
SettingsRead loadSettings(SettingsRecord& record, const std::string& filePath,
                          std::string_view defaultOutputDirectory = "/",
                          const std::string& seedPath = {});

// Writes the record to the file, creating it (with `newFileMode`) or truncating it. It is
// never written through a symbolic link, nor when it is not a regular file of the running
// user; a saved file is left writable by its owner alone. A file that cannot be written is
// left as it is, silently. Returns whether the whole record was written.
bool saveSettings(const SettingsRecord& record, const std::string& filePath,
                  unsigned newFileMode = 0600);

// Where the settings of a run live: `path` is read and written; when it does not exist yet,
// `seedPath` (if not empty) is read in its place. A file made anew gets `newFileMode`: the
// user's own is theirs alone; the system-wide defaults beside an installed copy, which root
// edits, are readable by all so they can seed everyone's.
struct SettingsLocation {
    std::string path;
    std::string seedPath;
    unsigned newFileMode = 0600;
};

}  // namespace qhs
