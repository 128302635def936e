#include "app/GeneralSettingsDialog.h"

#include <QFileInfo>
#include <QRegularExpressionValidator>

#include "app/DialogService.h"
#include "app/GeneralSettingsValues.h"
#include "app/ProductArt.h"
#include "app/SpeakerTune.h"
#include "app/TextCodec.h"
#include "ui_GeneralSettingsDialog.h"

namespace qhs {

namespace {

std::string fieldText(const QLineEdit* edit) {
    return toWindows1252(edit->text());
}

}  // namespace

GeneralSettingsDialog::GeneralSettingsDialog(PublishedSettings& settings, QWidget* parent,
                                             std::unique_ptr<SoundPlayer> player)
    : QDialog(parent),
      ui_(std::make_unique<Ui::GeneralSettingsDialog>()),
      settings_(settings),
      player_(player != nullptr ? std::move(player) : std::make_unique<SilentPlayer>()) {
    ui_->setupUi(this);
    setWindowIcon(applicationIcon());
    // A signed number: the record may hold a negative interval, and it stays editable.
    ui_->logInterval->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]*")), this));

    connect(ui_->autoLog, &QCheckBox::toggled, this, &GeneralSettingsDialog::updateLoggingControls);
    connect(ui_->chooseLogFileButton, &QPushButton::clicked, this,
            &GeneralSettingsDialog::chooseLogFile);
    connect(ui_->chooseSoundButton, &QPushButton::clicked, this,
            &GeneralSettingsDialog::chooseSoundFile);
    connect(ui_->testSoundButton, &QPushButton::clicked, this, &GeneralSettingsDialog::testSound);
    connect(ui_->defaultFileNameButton, &QPushButton::clicked, this,
            [this] { ui_->fileNameTemplate->setText(fromWindows1252(DefaultFileNameTemplate)); });
    connect(ui_->defaultDateTimeButton, &QPushButton::clicked, this,
            [this] { ui_->dateTimeTemplate->setText(fromWindows1252(DefaultDateTimeTemplate)); });
    connect(ui_->okButton, &QPushButton::clicked, this, [this] {
        apply();
        accept();
    });
    connect(ui_->cancelButton, &QPushButton::clicked, this, &GeneralSettingsDialog::reject);
    connect(ui_->applyButton, &QPushButton::clicked, this, &GeneralSettingsDialog::apply);
    fillControls();
}

GeneralSettingsDialog::~GeneralSettingsDialog() {
    player_->stop();
    testThread_.join();
}

void GeneralSettingsDialog::fillControls() {
    const GeneralSettingsValues values = GeneralSettingsValues::read(settings_.current());
    ui_->autoLog->setChecked(values.autoLog);
    ui_->logFilePath->setText(fromWindows1252(values.logFilePath));
    ui_->logInterval->setText(fromWindows1252(values.logIntervalText));
    switch (values.logData) {
        case LogDataChoice::Text:
            ui_->logDataText->setChecked(true);
            break;
        case LogDataChoice::Dec:
            ui_->logDataDec->setChecked(true);
            break;
        case LogDataChoice::Hex:
            ui_->logDataHex->setChecked(true);
            break;
        case LogDataChoice::HeadingOnly:
            ui_->logHeadingOnly->setChecked(true);
            break;
    }
    ui_->soundFilePath->setText(fromWindows1252(values.soundFilePath));
    ui_->useWindowsColors->setChecked(values.useWindowsColors);
    ui_->noTaskbarBlink->setChecked(values.noTaskbarBlink);
    ui_->fileNameTemplate->setText(fromWindows1252(values.fileNameTemplate));
    ui_->dateTimeTemplate->setText(fromWindows1252(values.dateTimeTemplate));
    ui_->showModeChoice->setChecked(values.showModeChoice);
    updateLoggingControls();
}

GeneralSettingsValues GeneralSettingsDialog::currentValues() const {
    GeneralSettingsValues values;
    values.autoLog = ui_->autoLog->isChecked();
    values.logFilePath = fieldText(ui_->logFilePath);
    values.logIntervalText = fieldText(ui_->logInterval);
    if (ui_->logDataText->isChecked()) {
        values.logData = LogDataChoice::Text;
    } else if (ui_->logDataDec->isChecked()) {
        values.logData = LogDataChoice::Dec;
    } else if (ui_->logDataHex->isChecked()) {
        values.logData = LogDataChoice::Hex;
    }
    values.soundFilePath = fieldText(ui_->soundFilePath);
    values.useWindowsColors = ui_->useWindowsColors->isChecked();
    values.noTaskbarBlink = ui_->noTaskbarBlink->isChecked();
    values.fileNameTemplate = fieldText(ui_->fileNameTemplate);
    values.dateTimeTemplate = fieldText(ui_->dateTimeTemplate);
    values.showModeChoice = ui_->showModeChoice->isChecked();
    return values;
}

void GeneralSettingsDialog::updateLoggingControls() {
    const bool logging = ui_->autoLog->isChecked();
    for (QWidget* control : std::initializer_list<QWidget*>{
             ui_->logFilePath, ui_->logInterval, ui_->chooseLogFileButton, ui_->logHeadingOnly,
             ui_->logDataText, ui_->logDataDec, ui_->logDataHex}) {
        control->setEnabled(logging);
    }
}

void GeneralSettingsDialog::apply() {
    const GeneralSettingsValues values = currentValues();
    settings_.change([&values](SettingsRecord& record) { values.store(record); });
    emit colourSchemeChanged();
}

void GeneralSettingsDialog::chooseLogFile() {
    QString path =
        dialogService().saveFileName(this, QStringLiteral("Save As"), ui_->logFilePath->text(),
                                     QStringLiteral("Text Files (*.txt);;All Files (*.*)"));
    if (path.isEmpty()) {
        return;
    }
    // A name typed without an extension gets the log's own.
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".txt");
    }
    ui_->logFilePath->setText(path);
}

void GeneralSettingsDialog::chooseSoundFile() {
    QString path =
        dialogService().openFileName(this, QStringLiteral("Open"), ui_->soundFilePath->text(),
                                     QStringLiteral("Wave files (*.wav);;All Files (*.*)"));
    if (path.isEmpty()) {
        return;
    }
    // A name typed without an extension gets the wave files' own, unless it names a file
    // that exists as it is.
    const QFileInfo picked(path);
    if (picked.suffix().isEmpty() && !picked.isFile()) {
        path += QStringLiteral(".wav");
    }
    ui_->soundFilePath->setText(path);
}

void GeneralSettingsDialog::testSound() {
    // As with an asynchronous play, a new sound replaces the one still playing: it is cut
    // short (without the tune standing in for it) before the new one starts.
    player_->stop();
    testThread_.join();
    player_->resume();
    testSoundPlaying_.store(true);
    testThread_.start([this, path = fieldText(ui_->soundFilePath)] {
        playWaveOrTune(*player_, path);
        testSoundPlaying_.store(false);
    });
}

}  // namespace qhs
