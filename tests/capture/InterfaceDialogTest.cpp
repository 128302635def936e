#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTreeWidget>

#include "capture/InterfaceDialog.h"
#include "support/ScriptedDialogService.h"

namespace qhs {
namespace {

std::optional<std::vector<std::string>> threeAddresses() {
    return std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"};
}
std::optional<std::vector<std::string>> noAddresses() {
    return std::nullopt;
}

QStringList rows(QTreeWidget& list) {
    QStringList texts;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        texts << list.topLevelItem(i)->text(0);
    }
    return texts;
}

TEST(InterfaceDialog, ListsTheAddressesInReverseOrder) {
    ScriptedDialogService user;
    PublishedSettings settings;
    QStringList shown;
    user.dialogHandlers.push_back([&](QDialog& dialog) {
        shown = rows(*controlById<QTreeWidget>(dialog, 1037));
        return QDialog::Rejected;
    });
    EXPECT_FALSE(InterfaceDialog::choose(settings, nullptr, &threeAddresses));
    EXPECT_EQ(shown, (QStringList{"10.0.0.3", "10.0.0.2", "10.0.0.1"}));
}

TEST(InterfaceDialog, OkWithoutASelectionAsksForOneAndStaysOpen) {
    ScriptedDialogService user;
    PublishedSettings settings;
    InterfaceDialog dialog(settings, {"10.0.0.1"});
    controlById<QPushButton>(dialog, 1)->click();
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text, "Please choose an interface.");
    EXPECT_EQ(user.shown[0].message.caption, "");
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(textField(settings.current().interfaceAddress), "");
}

TEST(InterfaceDialog, OkAndDoubleClickStoreTheChosenAddress) {
    ScriptedDialogService user;
    PublishedSettings settings;
    {
        InterfaceDialog dialog(settings, {"10.0.0.1", "10.0.0.2"});
        auto* list = controlById<QTreeWidget>(dialog, 1037);
        list->topLevelItem(1)->setSelected(true);
        controlById<QPushButton>(dialog, 1)->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(textField(settings.current().interfaceAddress), "10.0.0.1");
    }
    {
        InterfaceDialog dialog(settings, {"10.0.0.1", "10.0.0.2"});
        auto* list = controlById<QTreeWidget>(dialog, 1037);
        emit list->itemDoubleClicked(list->topLevelItem(0), 0);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(textField(settings.current().interfaceAddress), "10.0.0.2");
    }
    EXPECT_TRUE(user.shown.empty());
}

TEST(InterfaceDialog, EscapeLeavesTheAddressUnchanged) {
    ScriptedDialogService user;
    PublishedSettings settings;
    settings.change(
        [](SettingsRecord& record) { setTextField(record.interfaceAddress, "10.9.9.9"); });
    user.dialogHandlers.push_back([](QDialog& dialog) {
        auto* list = controlById<QTreeWidget>(dialog, 1037);
        list->topLevelItem(0)->setSelected(true);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &escape);
        return dialog.result();
    });
    EXPECT_FALSE(InterfaceDialog::choose(settings, nullptr, &threeAddresses));
    EXPECT_EQ(textField(settings.current().interfaceAddress), "10.9.9.9");
}

TEST(InterfaceDialog, NoAddressListSaysSoAndOpensNothing) {
    ScriptedDialogService user;
    PublishedSettings settings;
    EXPECT_FALSE(InterfaceDialog::choose(settings, nullptr, &noAddresses));
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text, "Error getting interface information");
    EXPECT_EQ(user.shown[0].message.caption, "QuillharbourSnifferV1.5");
}

}  // namespace
}  // namespace qhs
