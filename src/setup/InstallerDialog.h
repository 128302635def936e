#pragma once

#include <QDialog>
#include <memory>

#include "setup/InstallEnvironment.h"

namespace Ui {
class InstallerDialog;
}

namespace qhs {

// Asks where to install and which shortcuts to make, then installs. A successful install
// ends the dialog (starting the installed copy when asked); a failed copy puts the default
// directory back and leaves the dialog open for another try. Closing it asks first.
class InstallerDialog : public QDialog {
    Q_OBJECT

  public:
    explicit InstallerDialog(const InstallEnvironment& environment, QWidget* parent = nullptr);
    ~InstallerDialog() override;

    // The close box and Escape come here: the user confirms leaving the installation.
    void reject() override;

  private:
    void install();

    std::unique_ptr<Ui::InstallerDialog> ui_;
    const InstallEnvironment& environment_;
};

inline constexpr const char* CopyErrorText =
    "There was an error copying a file, make sure the destination disk is not full and is not "
    "write protected.";
// Said after the success box when the installed copy could not be given the capture right.
inline constexpr const char* CaptureNotGrantedText =
    "The installed program could not be given the right to capture (the file capability "
    "CAP_NET_RAW): only root can capture with it. Install it as root, into a folder on a "
    "file system that keeps file capabilities (not one mounted nosuid), to let the members "
    "of the group quillharbour-capture capture.";
inline constexpr const char* QuitInstallationQuestion =
    "Are you sure you want to quit the installation?";

}  // namespace qhs
