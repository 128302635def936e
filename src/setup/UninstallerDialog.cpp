#include "setup/UninstallerDialog.h"

#include "app/DialogService.h"
#include "app/ProductArt.h"
#include "setup/SetupNames.h"
#include "setup/Uninstaller.h"
#include "ui_UninstallerDialog.h"

namespace qhs {

UninstallerDialog::UninstallerDialog(const InstallEnvironment& environment, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::UninstallerDialog>()), environment_(environment) {
    ui_->setupUi(this);
    setWindowIcon(applicationIcon());
    ui_->removeButton->setText(
        QStringLiteral("Completely remove %1 from this machine")
            .arg(QString::fromLatin1(ProductTitle.data(), qsizetype(ProductTitle.size()))));
    connect(ui_->removeButton, &QPushButton::clicked, this, &UninstallerDialog::removeProgram);
}

UninstallerDialog::~UninstallerDialog() = default;

void UninstallerDialog::removeProgram() {
    if (!Uninstaller(environment_).uninstall()) {
        dialogService().showMessage(this, UserMessage{"Un-able to remove executable file"});
    }
    if (environment_.endProcess) {
        environment_.endProcess(0);
    }
    accept();  // reached only when ending the process was left to the caller
}

}  // namespace qhs
