#pragma once

#include <string>

#include "app/SettingsRecord.h"

namespace qhs {

// Which record a log entry holds: the heading alone, or the heading and the data in one of
// three renderings. One choice stands for the three flags logDataText, logDataDec and
// logDataHex.
enum class LogDataChoice { HeadingOnly, Text, Dec, Hex };

// The settings of the General settings dialog in the form it edits them. read() fills it
// from the record, store() writes it back in the dialog's Apply order.
struct GeneralSettingsValues {
    bool autoLog = false;
    std::string logFilePath;
    std::string logIntervalText;
    LogDataChoice logData = LogDataChoice::HeadingOnly;
    std::string soundFilePath;
    bool useWindowsColors = false;
    bool noTaskbarBlink = false;
    std::string fileNameTemplate;
    std::string dateTimeTemplate;
    bool showModeChoice = true;

    static GeneralSettingsValues read(const SettingsRecord& record);
    // Texts are cut to their fields; an interval that is no number stores 0.
    void store(SettingsRecord& record) const;
};

}  // namespace qhs
