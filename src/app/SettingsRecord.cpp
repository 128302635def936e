#include "app/SettingsRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/Descriptor.h"

namespace qhs {

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

namespace {

bool writtenByOthers(const struct stat& facts) {
    return (facts.st_uid != ::geteuid() && facts.st_uid != 0) ||
           (facts.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace

SettingsRead readSettingsFile(SettingsRecord& record, const std::string& filePath) {
    // Not blocking: a FIFO in its place must not hang the start.
    const Descriptor file{::open(filePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
    struct stat facts {};
    if (file.value < 0 || ::fstat(file.value, &facts) != 0) {
        return SettingsRead::Missing;
    }
    if (!S_ISREG(facts.st_mode) || writtenByOthers(facts)) {
        return SettingsRead::Untrusted;
    }
    // Read into a scratch copy so a short file cannot leave a half-old record behind.
    SettingsRecord loaded;
    auto* bytes = reinterpret_cast<char*>(&loaded);
    std::size_t filled = 0;
    while (filled < sizeof loaded) {
        const ssize_t count = ::read(file.value, bytes + filled, sizeof loaded - filled);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return SettingsRead::Short;
        }
        filled += static_cast<std::size_t>(count);
    }
    record = loaded;
    return SettingsRead::Read;
}

SettingsRead loadSettings(SettingsRecord& record, const std::string& filePath,
                          std::string_view defaultOutputDirectory, const std::string& seedPath) {
    const SettingsRead outcome = readSettingsFile(record, filePath);
    if (outcome == SettingsRead::Read) {
        return outcome;
    }
    if (outcome == SettingsRead::Missing && !seedPath.empty() &&
        readSettingsFile(record, seedPath) == SettingsRead::Read) {
        return outcome;
    }
    setDefaultSettings(record, defaultOutputDirectory);
    return outcome;
}

bool saveSettings(const SettingsRecord& record, const std::string& filePath, unsigned newFileMode) {
    const Descriptor file{::open(
        filePath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
        static_cast<mode_t>(newFileMode & 0644))};
    struct stat facts {};
    if (file.value < 0 || ::fstat(file.value, &facts) != 0 || !S_ISREG(facts.st_mode) ||
        facts.st_uid != ::geteuid()) {
        return false;
    }
    if ((facts.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
        ::fchmod(file.value, facts.st_mode & 0644) != 0) {
        return false;
    }
    if (::ftruncate(file.value, 0) != 0) {
        return false;
    }
    return writeAll(file.value,
                    std::string_view(reinterpret_cast<const char*>(&record), sizeof record));
}

}  // namespace qhs
