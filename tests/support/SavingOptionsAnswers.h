#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QRadioButton>

#include "support/ScriptedDialogService.h"

namespace qhs {

// The user's answer to the Saving options dialog: save each packet's data, in hexadecimal.
inline int saveDataInHex(QDialog& options) {
    controlById<QCheckBox>(options, 1029)->click();     // "Save packet data for each packet"
    controlById<QRadioButton>(options, 1026)->click();  // Hex
    controlById<QPushButton>(options, 1028)->click();
    return options.result();
}

}  // namespace qhs
