#include "setup/InstallerDialog.h"

#include <QApplication>
#include <QFile>

#include "app/DialogService.h"
#include "app/ProductArt.h"
#include "setup/Installer.h"
#include "setup/SetupNames.h"
#include "ui_InstallerDialog.h"

namespace qhs {

namespace {

QString pathText(std::string_view path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

// The wait cursor over a disabled dialog while the installation runs.
class BusyScope {
  public:
    explicit BusyScope(QWidget& window) : window_(window) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        window_.setEnabled(false);
    }
    ~BusyScope() {
        window_.setEnabled(true);
        QApplication::restoreOverrideCursor();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    QWidget& window_;
};

}  // namespace

InstallerDialog::InstallerDialog(const InstallEnvironment& environment, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::InstallerDialog>()), environment_(environment) {
    ui_->setupUi(this);
    setWindowIcon(applicationIcon());
    ui_->installButton->setText(
        QStringLiteral("Install %1")
            .arg(QString::fromLatin1(ProductTitle.data(), qsizetype(ProductTitle.size()))));
    ui_->installDirectory->setText(pathText(DefaultInstallDirectory));
    ui_->desktopShortcut->setChecked(true);
    ui_->startMenuShortcut->setChecked(true);
    ui_->runWhenComplete->setChecked(true);
    connect(ui_->installButton, &QPushButton::clicked, this, &InstallerDialog::install);
}

InstallerDialog::~InstallerDialog() = default;

void InstallerDialog::reject() {
    const UserMessage question{QuitInstallationQuestion, std::string(ProductName)};
    if (dialogService().showMessage(this, question, MessageButtons::YesNo) == MessageAnswer::Yes) {
        QDialog::reject();
    }
}

void InstallerDialog::install() {
    InstallChoices choices;
    choices.directory = QFile::encodeName(ui_->installDirectory->text()).toStdString();
    choices.desktopShortcut = ui_->desktopShortcut->isChecked();
    choices.startMenuShortcut = ui_->startMenuShortcut->isChecked();
    choices.forAllUsers = ui_->forAllUsers->isChecked();

    const Installer installer(environment_);
    InstallResult result;
    {
        const BusyScope busy(*this);
        result = installer.install(choices);
    }
    if (!result.installed) {
        dialogService().showMessage(this, UserMessage{CopyErrorText, std::string(ProductName)});
        ui_->installDirectory->setText(pathText(DefaultInstallDirectory));
        return;
    }
    dialogService().showMessage(
        this, UserMessage{"Installation of " + std::string(ProductTitle) + " is now complete.",
                          "Installation Successful"});
    if (!result.captureAllowed) {
        dialogService().showMessage(
            this, UserMessage{std::string(CaptureNotGrantedText), std::string(ProductName),
                              MessageIcon::Warning});
    }
    if (ui_->runWhenComplete->isChecked()) {
        installer.startInstalledCopy(result);  // a failed start is not reported
    }
    accept();
}

}  // namespace qhs
