#include "filemode/FileSnifferDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QLayout>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "app/DialogService.h"
#include "app/GeneralSettingsDialog.h"
#include "app/ProductArt.h"
#include "app/TextCodec.h"
#include "app/WindowThread.h"
#include "capture/CaptureSocket.h"
#include "capture/InterfaceDialog.h"
#include "filemode/StoredKeyLogPath.h"
#include "info/AboutDialog.h"
#include "info/HelpDialog.h"
#include "ui_FileSnifferDialog.h"

namespace qhs {

namespace {

// Digits only, so a field reads as a number; a value too large for its type saturates.
std::uint64_t digitsValue(const QString& text, std::uint64_t largest) {
    std::uint64_t value = 0;
    for (const QChar character : text) {
        if (!character.isDigit()) {
            break;
        }
        value = value * 10 + static_cast<std::uint64_t>(character.digitValue());
        if (value > largest) {
            return largest;
        }
    }
    return value;
}

std::int32_t ackTimeoutValue(const QString& text) {
    return static_cast<std::int32_t>(
        digitsValue(text, static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())));
}

QString numberText(std::uint64_t value) {
    return QString::number(value);
}

// File paths are the system's bytes (UTF-8), not the settings record's Windows-1252.
std::string pathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

FileSnifferDialog::FileSnifferDialog(PublishedSettings& settings, std::string settingsPath,
                                     SystemServices services, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::FileSnifferDialog>()),
      settings_(settings),
      settingsPath_(std::move(settingsPath)),
      services_(std::move(services)) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(applicationIcon());
    makeWebsiteLogo(*ui_->logo);
    menu_ = buildMainMenu(*this);
    // Saving belongs to Packet Sniffer Mode; the item does nothing here.
    connect(menu_.exit, &QAction::triggered, this, &FileSnifferDialog::closeWindow);
    connect(menu_.networkInterface, &QAction::triggered, this, &FileSnifferDialog::chooseInterface);
    connect(menu_.help, &QAction::triggered, this, [this] {
        HelpDialog help(this);
        dialogService().runModal(help);
    });
    connect(menu_.about, &QAction::triggered, this, [this] {
        AboutDialog about(settings_.current(), services_.makeTcpClient, this);
        dialogService().runModal(about);
    });
    connect(menu_.general, &QAction::triggered, this, [this] {
        GeneralSettingsDialog dialog(settings_, this, services_.makeSoundPlayer());
        dialogService().runModal(dialog);
    });

    const auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    for (QLineEdit* field :
         {ui_->ackTimeout, ui_->sourcePortMust, ui_->sourcePortMustNot, ui_->destPortMust,
          ui_->destPortMustNot, ui_->minimumSize, ui_->maximumSize}) {
        field->setValidator(digits);
    }
    ui_->outputDirectory->setMaxLength(1023);
    ui_->resolverHost->setMaxLength(1023);
    // A path and its line break fit the line kept beside the settings.
    ui_->tlsKeyLogFile->setMaxLength(static_cast<int>(StoredKeyLogLineLimit) - 1);
    ui_->encryptedWithoutKey->hide();

    capture_ = std::make_unique<FileCapture>(
        [this] { return services_.captureSource(); },
        [this](const std::string& status) {
            postToWindowThread(
                this, [this, status] { ui_->statusLine->setText(fromWindows1252(status)); });
        },
        services_.raiseThreadPriority, *services_.flooredMemory);
    // New name templates hold from the next file written.
    capture_->followNameTemplates(settings_);

    connect(ui_->startButton, &QPushButton::clicked, this, &FileSnifferDialog::startCapture);
    connect(ui_->stopButton, &QPushButton::clicked, this, &FileSnifferDialog::stopCapture);
    connect(ui_->resolveButton, &QPushButton::clicked, this, &FileSnifferDialog::resolveHost);
    connect(ui_->tlsKeyLogBrowse, &QPushButton::clicked, this,
            &FileSnifferDialog::browseKeyLogFile);
    connect(ui_->ackTimeout, &QLineEdit::textChanged, this,
            [this](const QString& text) { capture_->setAckTimeoutMs(ackTimeoutValue(text)); });
    connect(ui_->outputDirectory, &QLineEdit::textChanged, this,
            [this](const QString& text) { capture_->setOutputDirectory(toWindows1252(text)); });
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, &FileSnifferDialog::timerTick);
}

FileSnifferDialog::~FileSnifferDialog() = default;

bool FileSnifferDialog::initialize() {
    fillControls();
    timer_.start();
    capture_->setAckTimeoutMs(ackTimeoutValue(ui_->ackTimeout->text()));

    if (!InterfaceDialog::probeOnOpening(*services_.captureSource(), settings_, this,
                                         services_.interfaceAddresses)) {
        return false;
    }
    ui_->interfaceAddress->setText(
        fromWindows1252(textField(settings_.current().interfaceAddress)));
    return true;
}

int FileSnifferDialog::run(PublishedSettings& settings, const std::string& settingsPath,
                           const SystemServices& services) {
    FileSnifferDialog window(settings, settingsPath, services);
    if (!window.initialize()) {
        return 0;
    }
    runMainWindow(window);
    return 0;
}

void FileSnifferDialog::fillControls() {
    const SettingsRecord& record = settings_.current();
    ui_->outputDirectory->setText(fromWindows1252(textField(record.fileOutputDirectory)));
    ui_->overwriteFiles->setChecked(record.fileOverwrite != 0);
    ui_->httpOnly->setChecked(record.fileHttpOnly != 0);
    ui_->ackTimeout->setText(numberText(record.ackTimeoutMs));
    ui_->sourceIpMust->setText(fromWindows1252(textField(record.fileSourceIpMust)));
    ui_->sourceIpMustNot->setText(fromWindows1252(textField(record.fileSourceIpMustNot)));
    ui_->destIpMust->setText(fromWindows1252(textField(record.fileDestIpMust)));
    ui_->destIpMustNot->setText(fromWindows1252(textField(record.fileDestIpMustNot)));
    ui_->sourcePortMust->setText(numberText(record.fileSourcePortMust));
    ui_->sourcePortMustNot->setText(numberText(record.fileSourcePortMustNot));
    ui_->destPortMust->setText(numberText(record.fileDestPortMust));
    ui_->destPortMustNot->setText(numberText(record.fileDestPortMustNot));
    ui_->minimumSize->setText(numberText(record.fileMinSize));
    ui_->maximumSize->setText(numberText(record.fileMaxSize));
    ui_->resolverHost->setText(fromWindows1252(textField(record.fileResolverHost)));
    keyLogAtOpening_ = QFile::decodeName(
        QByteArray::fromStdString(initialKeyLogPath(settingsPath_, std::getenv("SSLKEYLOGFILE"))));
    ui_->tlsKeyLogFile->setText(keyLogAtOpening_);
}

void FileSnifferDialog::copyControlsInto(SettingsRecord& record) const {
    const auto port = [](const QLineEdit* field) {
        // The low 16 bits, as a 16-bit field keeps them.
        return static_cast<std::uint16_t>(digitsValue(field->text(), 0xFFFFFFFFull) & 0xFFFF);
    };
    const auto size = [](const QLineEdit* field) {
        return static_cast<std::uint32_t>(digitsValue(field->text(), 0xFFFFFFFFull));
    };
    setTextField(record.fileOutputDirectory, toWindows1252(ui_->outputDirectory->text()));
    record.fileOverwrite = ui_->overwriteFiles->isChecked() ? 1 : 0;
    record.fileHttpOnly = ui_->httpOnly->isChecked() ? 1 : 0;
    record.ackTimeoutMs =
        static_cast<std::uint16_t>(ackTimeoutValue(ui_->ackTimeout->text()) & 0xFFFF);
    setTextField(record.fileSourceIpMust, toWindows1252(ui_->sourceIpMust->text()));
    setTextField(record.fileSourceIpMustNot, toWindows1252(ui_->sourceIpMustNot->text()));
    setTextField(record.fileDestIpMust, toWindows1252(ui_->destIpMust->text()));
    setTextField(record.fileDestIpMustNot, toWindows1252(ui_->destIpMustNot->text()));
    record.fileSourcePortMust = port(ui_->sourcePortMust);
    record.fileSourcePortMustNot = port(ui_->sourcePortMustNot);
    record.fileDestPortMust = port(ui_->destPortMust);
    record.fileDestPortMustNot = port(ui_->destPortMustNot);
    record.fileMinSize = size(ui_->minimumSize);
    record.fileMaxSize = size(ui_->maximumSize);
    setTextField(record.fileResolverHost, toWindows1252(ui_->resolverHost->text()));
}

void FileSnifferDialog::showMessages(const std::vector<UserMessage>& messages) {
    for (const UserMessage& message : messages) {
        dialogService().showMessage(this, message);
    }
}

void FileSnifferDialog::startCapture() {
    if (capture_->captureRunning()) {
        return;
    }
    ui_->statusLine->setText(QStringLiteral("Status: Starting..."));
    SettingsRecord current = settings_.current();
    copyControlsInto(current);
    capture_->setTlsKeyLogFile(pathBytes(ui_->tlsKeyLogFile->text()));
    const FileCaptureStart started = capture_->start(current);
    if (!started.statusText.empty()) {
        ui_->statusLine->setText(fromWindows1252(started.statusText));
    }
    showMessages(started.messages);
    if (capture_->captureRunning()) {
        setRunningControls(true);
    }
}

void FileSnifferDialog::stopCapture() {
    if (!controlsRunning_) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    capture_->stop();
    QApplication::restoreOverrideCursor();
    setRunningControls(false);
    showEncryptedWithoutKey(capture_->encryptedWithoutKey());
}

void FileSnifferDialog::setRunningControls(bool running) {
    controlsRunning_ = running;
    ui_->startButton->setEnabled(!running);
    ui_->stopButton->setEnabled(running);
    for (QWidget* control : std::initializer_list<QWidget*>{
             ui_->ackTimeout, ui_->overwriteFiles, ui_->httpOnly, ui_->sourceIpMust,
             ui_->sourceIpMustNot, ui_->destIpMust, ui_->destIpMustNot, ui_->sourcePortMust,
             ui_->sourcePortMustNot, ui_->destPortMust, ui_->destPortMustNot, ui_->minimumSize,
             ui_->maximumSize, ui_->tlsKeyLogFile, ui_->tlsKeyLogBrowse}) {
        control->setEnabled(!running);
    }
}

void FileSnifferDialog::timerTick() {
    if (capture_->captureRunning()) {
        ui_->filesProcessing->setText(
            QStringLiteral("Files processing: %1").arg(capture_->filesProcessing()));
        QString written = QStringLiteral("Files written: %1").arg(capture_->filesWritten());
        // Incomplete files and the system's drops are shown only once there are any;
        // otherwise the text is as always.
        if (const std::int32_t incomplete = capture_->incompleteFiles(); incomplete > 0) {
            written += QStringLiteral("\nIncomplete files: %1").arg(incomplete);
        }
        if (const std::uint64_t dropped = capture_->droppedCount(); dropped > 0) {
            written += QStringLiteral("\nDropped by the system: %1").arg(dropped);
        }
        ui_->filesWritten->setText(written);
        showEncryptedWithoutKey(capture_->encryptedWithoutKey());
    } else if (controlsRunning_) {
        // The capture ended by itself (its receive failed): make Start usable again.
        capture_->stop();
        setRunningControls(false);
        showEncryptedWithoutKey(capture_->encryptedWithoutKey());
    }
    if (const std::optional<UserMessage> message = capture_->messages().takeNext()) {
        dialogService().showMessage(this, *message);
        capture_->messages().dismiss();
    }
}

void FileSnifferDialog::resolveHost() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string host = toWindows1252(ui_->resolverHost->text().left(1023));
    const std::optional<std::string> address =
        services_.lookups.hostAddress ? services_.lookups.hostAddress(host) : std::nullopt;
    QApplication::restoreOverrideCursor();
    if (address) {
        ui_->resolverHost->setText(QString::fromStdString(*address));
    } else {
        dialogService().showMessage(this, UserMessage{"Unable to resolve host name"});
    }
}

void FileSnifferDialog::chooseInterface() {
    InterfaceDialog::choose(settings_, this, services_.interfaceAddresses);
    ui_->interfaceAddress->setText(
        fromWindows1252(textField(settings_.current().interfaceAddress)));
}

void FileSnifferDialog::browseKeyLogFile() {
    const QString chosen =
        dialogService().openFileName(this, QStringLiteral("TLS key log file"),
                                     ui_->tlsKeyLogFile->text(), QStringLiteral("All files (*)"));
    if (!chosen.isEmpty()) {
        ui_->tlsKeyLogFile->setText(chosen);
    }
}

void FileSnifferDialog::showEncryptedWithoutKey(std::int32_t connections) {
    ui_->encryptedWithoutKey->setText(QStringLiteral("Encrypted, no key: %1").arg(connections));
    ui_->encryptedWithoutKey->setVisible(connections > 0);
    fitStatusLines();
}

void FileSnifferDialog::fitStatusLines() {
    const int lines = static_cast<int>(ui_->filesWritten->text().count(QLatin1Char('\n'))) +
                      (ui_->encryptedWithoutKey->isHidden() ? 0 : 1);
    // The window's minimum height leaves out what its word-wrapped texts need at its width, so
    // lines added to the status could be squeezed over each other: the window grows to hold
    // them. Only when lines were added, so a window the user made smaller stays so.
    if (lines > statusLines_ && isVisible() && layout() != nullptr) {
        layout()->invalidate();
        layout()->activate();
        if (ui_->statusGroup->height() < ui_->statusGroup->minimumSizeHint().height()) {
            resize(width(), std::max(height(), heightForWidth(width())));
        }
    }
    statusLines_ = lines;
}

void FileSnifferDialog::closeWindow() {
    if (closing_) {
        return;
    }
    closing_ = true;
    timer_.stop();
    settings_.change([this](SettingsRecord& record) { copyControlsInto(record); });
    saveSettings(settings_.current(), settingsPath_);
    if (const QString keyLog = ui_->tlsKeyLogFile->text(); keyLog != keyLogAtOpening_) {
        storeKeyLogPath(settingsPath_, pathBytes(keyLog));
    }
    // Streams still pending are not written: the capture ends with the window.
    capture_->stop();
    done(0);
}

void FileSnifferDialog::closeEvent(QCloseEvent* event) {
    closeWindow();
    event->accept();
}

}  // namespace qhs
