#include "app/ModeChoiceDialog.h"

#include <QCloseEvent>

#include "app/DialogService.h"
#include "app/Product.h"
#include "app/ProductArt.h"
#include "ui_ModeChoiceDialog.h"

namespace qhs {

ModeChoiceDialog::ModeChoiceDialog(PublishedSettings& settings, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ModeChoiceDialog>()), settings_(settings) {
    ui_->setupUi(this);
    setWindowIcon(applicationIcon());
    makeWebsiteLogo(*ui_->logo);
    connect(ui_->packetModeButton, &QPushButton::clicked, this, [this] { choose(0); });
    connect(ui_->fileModeButton, &QPushButton::clicked, this, [this] { choose(1); });
    connect(ui_->helpButton, &QPushButton::clicked, this, &ModeChoiceDialog::showHelp);
}

ModeChoiceDialog::~ModeChoiceDialog() = default;

void ModeChoiceDialog::choose(std::uint32_t mode) {
    const bool remember = ui_->rememberChoice->isChecked();
    settings_.change([&](SettingsRecord& record) {
        record.showModeChoice = remember ? 0 : 1;
        record.snifferMode = mode;
    });
    accept();
}

void ModeChoiceDialog::showHelp() {
    UserMessage help{ModeChoiceHelpText, std::string(ProductName), MessageIcon::Information};
    dialogService().showMessage(this, help);
}

void ModeChoiceDialog::closeEvent(QCloseEvent* event) {
    // Only the window's close box arrives here; Escape rejects without closing this way.
    closedByCloseBox_ = true;
    QDialog::closeEvent(event);
}

}  // namespace qhs
