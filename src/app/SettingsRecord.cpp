#include "app/SettingsRecord.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace qhs {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

void setDefaultSettings(SettingsRecord& record, std::string_view outputDirectory) {
    std::memset(&record, 0, sizeof record);
    record.soundOnNewPacket = 1;
    record.detailShowDec = 1;
    record.showModeChoice = 1;
    record.ackTimeoutMs = 10000;
    record.fileHttpOnly = 1;
    setTextField(record.fileOutputDirectory, outputDirectory);
    for (char(*entry)[20] :
         {&record.fileSourceIpMust, &record.fileSourceIpMustNot, &record.fileDestIpMust,
          &record.fileDestIpMustNot, &record.filterSourceIpEntry, &record.filterSourceIpNotEntry,
          &record.filterDestIpEntry, &record.filterDestIpNotEntry}) {
        setTextField(*entry, "0.0.0.0");
    }
    record.filterAllowTcp = 1;
    record.filterAllowUdp = 1;
    record.filterAllowIcmp = 1;
    record.filterAllowOther = 1;
    record.logIntervalSeconds = 60;
    setTextField(record.fileNameTemplate, DefaultFileNameTemplate);
    setTextField(record.dateTimeTemplate, DefaultDateTimeTemplate);
}

SettingsRecord defaultSettings() {
    SettingsRecord record;
    setDefaultSettings(record);
    return record;
}

std::string settingsFilePath(std::string_view executablePath) {
    const std::size_t kept = executablePath.size() >= 3 ? executablePath.size() - 3 : 0;
    std::string path(executablePath.substr(0, kept));
    path += "QHS";
    return path;
}

void loadSettings(SettingsRecord& record, const std::string& filePath,
                  std::string_view defaultOutputDirectory) {
    FileHandle file(std::fopen(filePath.c_str(), "rb"));
    if (!file) {
        setDefaultSettings(record, defaultOutputDirectory);
        return;
    }
    // Read into a scratch copy so a short file cannot leave a half-old record behind.
    SettingsRecord loaded;
    if (std::fread(&loaded, 1, sizeof loaded, file.get()) != sizeof loaded) {
        setDefaultSettings(record, defaultOutputDirectory);
        return;
    }
    record = loaded;
}

bool saveSettings(const SettingsRecord& record, const std::string& filePath) {
    FileHandle file(std::fopen(filePath.c_str(), "wb"));
    if (!file) {
        return false;
    }
    const bool written = std::fwrite(&record, 1, sizeof record, file.get()) == sizeof record;
    return std::fclose(file.release()) == 0 && written;
}

}  // namespace qhs
