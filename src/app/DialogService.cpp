#include "app/DialogService.h"

#include <QDesktopServices>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QUrl>
#include <atomic>

#include "app/TextCodec.h"

namespace qhs {

namespace {

QtDialogService realService;
std::atomic<DialogService*> currentService{&realService};

QMessageBox::Icon qtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Stop:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons qtButtons(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MessageButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case MessageButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MessageButtons::Ok:
            break;
    }
    return QMessageBox::Ok;
}

// Message texts keep their "\r\n" line ends in the core; a box shows each as one break.
QString displayText(const std::string& text) {
    QString shown = fromWindows1252(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

// The extension of the first filter ("Text Files (*.txt)" gives "txt"), which a name typed
// without one gets; empty when the filter names none.
QString firstFilterSuffix(const QString& filter) {
    const QRegularExpressionMatch firstPattern =
        QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(filter);
    return firstPattern.hasMatch() ? firstPattern.captured(1) : QString();
}

QString chosenFile(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

}  // namespace

MessageAnswer QtDialogService::showMessage(QWidget* owner, const UserMessage& message,
                                           MessageButtons buttons) {
    // Qt puts the program's name on a window whose title is empty; a blank keeps the title
    // bar of a box without a caption empty.
    const QString caption =
        message.caption.empty() ? QStringLiteral(" ") : fromWindows1252(message.caption);
    QMessageBox box(qtIcon(message.icon), caption, displayText(message.text), qtButtons(buttons),
                    owner);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        default:
            return MessageAnswer::Ok;
    }
}

QString QtDialogService::openFileName(QWidget* owner, const QString& caption,
                                      const QString& startPath, const QString& filter) {
    QFileDialog dialog(owner, caption, startPath, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(firstFilterSuffix(filter));
    return chosenFile(dialog);
}

QString QtDialogService::saveFileName(QWidget* owner, const QString& caption,
                                      const QString& startPath, const QString& filter) {
    QFileDialog dialog(owner, caption, startPath, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(firstFilterSuffix(filter));
    return chosenFile(dialog);
}

QString QtDialogService::existingDirectory(QWidget* owner, const QString& caption,
                                           const QString& startPath) {
    return QFileDialog::getExistingDirectory(owner, caption, startPath);
}

int QtDialogService::runModal(QDialog& dialog) {
    return dialog.exec();
}

void QtDialogService::openAddress(const QString& address) {
    QDesktopServices::openUrl(QUrl(address));
}

int runMainWindow(QDialog& window) {
    QEventLoop loop;
    QObject::connect(&window, &QDialog::finished, &loop, &QEventLoop::quit);
    window.setWindowModality(Qt::NonModal);
    window.show();
    loop.exec();
    return window.result();
}

DialogService& dialogService() {
    return *currentService.load();
}

void setDialogService(DialogService* service) {
    currentService.store(service != nullptr ? service : &realService);
}

}  // namespace qhs
