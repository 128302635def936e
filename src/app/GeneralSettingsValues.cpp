#include "app/GeneralSettingsValues.h"

#include "app/NumberText.h"

namespace qhs {

GeneralSettingsValues GeneralSettingsValues::read(const SettingsRecord& record) {
    GeneralSettingsValues values;
    values.autoLog = record.autoLog != 0;
    values.logFilePath = textField(record.logFilePath);
    values.logIntervalText = std::to_string(record.logIntervalSeconds);
    // A damaged record may set more than one flag; the first of them wins.
    if (record.logDataText != 0) {
        values.logData = LogDataChoice::Text;
    } else if (record.logDataDec != 0) {
        values.logData = LogDataChoice::Dec;
    } else if (record.logDataHex != 0) {
        values.logData = LogDataChoice::Hex;
    }
    values.soundFilePath = textField(record.soundFilePath);
    values.useWindowsColors = record.useWindowsColors != 0;
    values.noTaskbarBlink = record.noTaskbarBlink != 0;
    values.fileNameTemplate = textField(record.fileNameTemplate);
    values.dateTimeTemplate = textField(record.dateTimeTemplate);
    values.showModeChoice = record.showModeChoice != 0;
    return values;
}

void GeneralSettingsValues::store(SettingsRecord& record) const {
    record.autoLog = autoLog ? 1 : 0;
    setTextField(record.logFilePath, logFilePath);
    record.logIntervalSeconds = signedNumberValue(logIntervalText);
    record.logDataText = logData == LogDataChoice::Text ? 1 : 0;
    record.logDataDec = logData == LogDataChoice::Dec ? 1 : 0;
    record.logDataHex = logData == LogDataChoice::Hex ? 1 : 0;
    setTextField(record.soundFilePath, soundFilePath);
    record.useWindowsColors = useWindowsColors ? 1 : 0;
    record.noTaskbarBlink = noTaskbarBlink ? 1 : 0;
    setTextField(record.fileNameTemplate, fileNameTemplate);
    setTextField(record.dateTimeTemplate, dateTimeTemplate);
    record.showModeChoice = showModeChoice ? 1 : 0;
}

}  // namespace qhs
