#include "packetmode/SavingOptionsDialog.h"

#include "app/ProductArt.h"
#include "ui_SavingOptionsDialog.h"

namespace qhs {

SavingOptionsDialog::SavingOptionsDialog(PublishedSettings& settings, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::SavingOptionsDialog>()), settings_(settings) {
    ui_->setupUi(this);
    setWindowIcon(applicationIcon());
    const SettingsRecord& record = settings_.current();
    ui_->includeData->setChecked(record.saveIncludeData != 0);
    // The buttons exclude each other. Should the record hold more than one rendering, the
    // one the save would use (text before dec before hex) is checked last and stays.
    ui_->dataHex->setChecked(record.saveDataHex != 0);
    ui_->dataDec->setChecked(record.saveDataDec != 0);
    ui_->dataText->setChecked(record.saveDataText != 0);
    enableRenderings(ui_->includeData->isChecked());

    connect(ui_->includeData, &QCheckBox::toggled, this, &SavingOptionsDialog::enableRenderings);
    connect(ui_->continueButton, &QPushButton::clicked, this, &SavingOptionsDialog::storeChoice);
}

SavingOptionsDialog::~SavingOptionsDialog() = default;

void SavingOptionsDialog::enableRenderings(bool enabled) {
    ui_->dataDec->setEnabled(enabled);
    ui_->dataHex->setEnabled(enabled);
    ui_->dataText->setEnabled(enabled);
}

void SavingOptionsDialog::storeChoice() {
    settings_.change([this](SettingsRecord& record) {
        record.saveIncludeData = ui_->includeData->isChecked() ? 1 : 0;
        record.saveDataDec = ui_->dataDec->isChecked() ? 1 : 0;
        record.saveDataHex = ui_->dataHex->isChecked() ? 1 : 0;
        record.saveDataText = ui_->dataText->isChecked() ? 1 : 0;
    });
    accept();
}

}  // namespace qhs
