#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <cstring>
#include <functional>

#include "packetmode/SavingOptionsDialog.h"
#include "support/ScriptedDialogService.h"

namespace qhs {
namespace {

struct SaveFields {
    int includeData, dec, hex, text;
    bool operator==(const SaveFields&) const = default;
};

SaveFields saveFields(const SettingsRecord& settings) {
    return {settings.saveIncludeData, settings.saveDataDec, settings.saveDataHex,
            settings.saveDataText};
}

class SavingOptions : public testing::Test {
  protected:
    QCheckBox* includeData(QDialog& dialog) { return controlById<QCheckBox>(dialog, 1029); }
    QRadioButton* rendering(QDialog& dialog, int id) {
        return controlById<QRadioButton>(dialog, id);
    }
    static constexpr int Dec = 1025, Hex = 1026, Text = 1020;

    SettingsRecord settings = defaultSettings();
};

TEST_F(SavingOptions, RenderingsFollowTheDataCheckBox) {
    settings.saveIncludeData = 0;
    settings.saveDataHex = 1;
    PublishedSettings published(settings);
    SavingOptionsDialog dialog(published);
    EXPECT_FALSE(includeData(dialog)->isChecked());
    EXPECT_TRUE(rendering(dialog, Hex)->isChecked());
    for (const bool checked : {true, false}) {
        includeData(dialog)->click();
        for (const int id : {Dec, Hex, Text}) {
            EXPECT_EQ(rendering(dialog, id)->isEnabled(), checked) << id;
        }
    }
}

TEST_F(SavingOptions, SeveralRenderingsInTheRecordShowTheOneTheSaveUses) {
    settings.saveIncludeData = 1;
    settings.saveDataDec = 1;
    settings.saveDataHex = 1;
    PublishedSettings published(settings);
    SavingOptionsDialog dialog(published);
    EXPECT_TRUE(rendering(dialog, Dec)->isChecked());
    EXPECT_FALSE(rendering(dialog, Hex)->isChecked());
    EXPECT_TRUE(rendering(dialog, Dec)->isEnabled());
}

TEST_F(SavingOptions, ContinueStoresTheControlsAndEveryOtherWayOutStoresNothing) {
    settings.saveIncludeData = 0;
    settings.saveDataDec = 1;
    const SettingsRecord before = settings;
    for (const auto& leave : std::initializer_list<std::function<void(QDialog&)>>{
             [](QDialog& dialog) {
                 QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                 QApplication::sendEvent(&dialog, &escape);
             },
             [](QDialog& dialog) { dialog.close(); }}) {
        PublishedSettings published(settings);
        SavingOptionsDialog dialog(published);
        dialog.show();
        includeData(dialog)->click();
        rendering(dialog, Text)->click();
        leave(dialog);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(std::memcmp(&published.current(), &before, sizeof before), 0);
    }

    PublishedSettings published(settings);
    SavingOptionsDialog dialog(published);
    dialog.show();
    includeData(dialog)->click();
    rendering(dialog, Hex)->click();
    controlById<QPushButton>(dialog, 1028)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(saveFields(published.current()), (SaveFields{1, 0, 1, 0}));
}

}  // namespace
}  // namespace qhs
