// A settings file of any content, and the name templates it holds: the record loads
// exactly (or as the defaults when the file is short), saves back byte for byte, and its
// templates expand into names that stay inside the output folder.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "app/SettingsRecord.h"
#include "app/Templates.h"
#include "filemode/StreamFile.h"

namespace {

using namespace qhs;

bool sameRecord(const SettingsRecord& a, const SettingsRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Reads a dotted address back into its network-order value.
bool readsBackAs(const std::string& dotted, std::uint32_t networkOrderAddress) {
    std::uint8_t bytes[4] = {};
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        unsigned value = 0;
        std::size_t digits = 0;
        while (at < dotted.size() && dotted[at] >= '0' && dotted[at] <= '9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(dotted[at++] - '0');
            ++digits;
        }
        if (digits == 0 || value > 255 ||
            (part < 3 && (at >= dotted.size() || dotted[at++] != '.'))) {
            return false;
        }
        bytes[part] = static_cast<std::uint8_t>(value);
    }
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return at == dotted.size() && value == networkOrderAddress;
}

void checkTemplates(const SettingsRecord& record) {
    const LocalTime time = fuzz::fixedLocalTime();
    const std::string_view nameTemplate = textField(record.fileNameTemplate);
    const std::string_view dateTemplate = textField(record.dateTimeTemplate);
    std::uint32_t source;
    std::uint32_t destination;
    std::memcpy(&source, &record.filterSourceIps[0], sizeof source);
    std::memcpy(&destination, &record.filterDestIps[0], sizeof destination);
    QHS_FUZZ_REQUIRE(readsBackAs(dottedAddress(source), source));

    const std::string name = expandFileName(nameTemplate, dateTemplate, source, destination, time);
    QHS_FUZZ_REQUIRE(name == expandFileName(nameTemplate, dateTemplate, source, destination, time));
    const std::string date = expandDateTime(dateTemplate, time);
    // Text without a parameter is kept as it is.
    if (nameTemplate.find('%') == std::string_view::npos) {
        QHS_FUZZ_REQUIRE(name == nameTemplate);
    }
    if (dateTemplate.find('%') == std::string_view::npos) {
        QHS_FUZZ_REQUIRE(date == dateTemplate);
    }
    QHS_FUZZ_REQUIRE(expandFileName("%SIP-%dip", dateTemplate, source, destination, time) ==
                     dottedAddress(source) + "-" + dottedAddress(destination));

    // The file of a stream lies directly in its folder, whatever the templates say.
    const StreamFileSettings settings = streamFileSettings(record);
    const std::string fileName = streamFileName(settings, source, destination, "txt", 2, true);
    for (const char c : fileName) {
        const auto byte = static_cast<unsigned char>(c);
        QHS_FUZZ_REQUIRE(c != '/' && byte >= 0x20 && byte != 0x7F);
    }
    QHS_FUZZ_REQUIRE(fileName != "." && fileName != "..");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::ScratchFolder scratch("settings");
    static const ScopedLocalTimeSource fixedTime(&fuzz::fixedLocalTime);
    const std::string filePath = (scratch.path() / "QuillharbourSnifferV1.5.QHS").string();
    const std::string copyPath = (scratch.path() / "copy.QHS").string();
    fuzz::writeFileContents(filePath, data, size);

    SettingsRecord record;
    std::memset(&record, 0xA5, sizeof record);
    loadSettings(record, filePath);
    if (size >= SettingsRecordSize) {
        QHS_FUZZ_REQUIRE(std::memcmp(&record, data, SettingsRecordSize) == 0);
    } else {
        QHS_FUZZ_REQUIRE(sameRecord(record, defaultSettings()));
    }
    QHS_FUZZ_REQUIRE(saveSettings(record, copyPath));
    SettingsRecord again;
    loadSettings(again, copyPath);
    QHS_FUZZ_REQUIRE(sameRecord(record, again));
    QHS_FUZZ_REQUIRE(fuzz::fileContents(copyPath).size() == SettingsRecordSize);

    checkTemplates(record);
    return 0;
}
