#pragma once

#include <QDialog>
#include <memory>

#include "setup/InstallEnvironment.h"

namespace Ui {
class UninstallerDialog;
}

namespace qhs {

// One button removes the program: the uninstall entry and the shortcuts at once, the
// files through a detached script, after which the process ends.
class UninstallerDialog : public QDialog {
    Q_OBJECT

  public:
    explicit UninstallerDialog(const InstallEnvironment& environment, QWidget* parent = nullptr);
    ~UninstallerDialog() override;

  private:
    void removeProgram();

    std::unique_ptr<Ui::UninstallerDialog> ui_;
    const InstallEnvironment& environment_;
};

}  // namespace qhs
