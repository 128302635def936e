#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

#include "app/MainMenu.h"
#include "app/PublishedSettings.h"
#include "app/UserMessage.h"
#include "capture/SystemServices.h"
#include "filemode/FileCapture.h"

namespace Ui {
class FileSnifferDialog;
}

namespace qhs {

// The main window of File Sniffer Mode: the File Sniffer settings, Start and Stop of the
// HTTP file capture, its status and counters, and a host name resolver.
class FileSnifferDialog : public QDialog {
    Q_OBJECT

  public:
    FileSnifferDialog(PublishedSettings& settings, std::string settingsPath,
                      SystemServices services, QWidget* parent = nullptr);
    ~FileSnifferDialog() override;

    // Fills the controls and probes the interface. Returns false when a start-up error means
    // the process must end (exit code 0) without running the window.
    bool initialize();
    // Opens the window for a run and returns the exit code once it has closed.
    static int run(PublishedSettings& settings, const std::string& settingsPath,
                   const SystemServices& services);

    void startCapture();
    void stopCapture();
    void resolveHost();
    void chooseInterface();
    // Browse...: picks an existing file for the TLS key log field.
    void browseKeyLogFile();
    // Shows the connections that could not be decrypted, or hides the line while there are
    // none; the timer shows the capture's count.
    void showEncryptedWithoutKey(std::int32_t connections);
    // Closes as the close box does: copies the controls into the settings and saves them.
    void closeWindow();

    FileCapture& capture() { return *capture_; }
    const MainMenu& menu() const { return menu_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void fillControls();
    // The record as the controls have it now.
    void copyControlsInto(SettingsRecord& record) const;
    void setRunningControls(bool running);
    void timerTick();
    void showMessages(const std::vector<UserMessage>& messages);
    // Grows the window when counter lines were added to the status and no longer fit.
    void fitStatusLines();

    std::unique_ptr<Ui::FileSnifferDialog> ui_;
    MainMenu menu_;
    PublishedSettings& settings_;
    std::string settingsPath_;
    SystemServices services_;
    std::unique_ptr<FileCapture> capture_;
    QTimer timer_;
    // The key log field as the window opened: kept beside the settings only once changed, so
    // an unchanged field keeps following SSLKEYLOGFILE.
    QString keyLogAtOpening_;
    int statusLines_ = 0;  // the counter lines beyond "Files written:"
    bool controlsRunning_ = false;
    bool closing_ = false;
};

}  // namespace qhs
