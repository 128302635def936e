#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "app/SettingsRecord.h"
#include "info/VersionCheck.h"

namespace Ui {
class AboutDialog;
}

namespace qhs {

// The About window: a greeting, links to the maker's website and support mail, the check
// for a newer version and the version change history. Of the settings it reads only
// useWindowsColors, when it opens.
class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    // `makeClient` gives the connection of "Check for newer version".
    AboutDialog(const SettingsRecord& settings,
                std::function<std::unique_ptr<TcpClient>()> makeClient, QWidget* parent = nullptr);
    ~AboutDialog() override;

    // The server "Check for newer version" asks; the maker's unless changed here.
    void setVersionServer(VersionServer server);

    // "Check for newer version": asks the server under the wait cursor and shows the one
    // answer box, if any; Yes to the newer-version question opens the description page.
    void checkVersion();

  private:
    void fillHistory(bool windowsColours);

    std::unique_ptr<Ui::AboutDialog> ui_;
    VersionServer versionServer_;
    std::function<std::unique_ptr<TcpClient>()> makeClient_;
};

}  // namespace qhs
