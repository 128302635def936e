#pragma once

#include <QDialog>
#include <memory>

#include "app/PublishedSettings.h"

namespace Ui {
class ModeChoiceDialog;
}

namespace qhs {

// Asks which sniffing mode to run. Choosing a mode writes snifferMode and showModeChoice;
// Escape closes it without a change; the close box means the user wants out altogether.
class ModeChoiceDialog : public QDialog {
    Q_OBJECT

  public:
    explicit ModeChoiceDialog(PublishedSettings& settings, QWidget* parent = nullptr);
    ~ModeChoiceDialog() override;

    bool closedByCloseBox() const { return closedByCloseBox_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void choose(std::uint32_t mode);
    void showHelp();

    std::unique_ptr<Ui::ModeChoiceDialog> ui_;
    PublishedSettings& settings_;
    bool closedByCloseBox_ = false;
};

inline constexpr const char* ModeChoiceHelpText =
    "Packet Sniffer Mode:\r\n  Packet Sniffer Mode is for the reception of TCP/IP packets, this "
    "mode allows you to view the contents of received packets.\r\n\r\nFile Sniffer Mode:\r\n  "
    "File Sniffer Mode collects packets of the HTTP protocol, and then attempts to construct "
    "these packets into the form of files while auto saving these files for later "
    "viewing.\r\n\r\n\"Remember my choice\"\r\n  Check this option if you do not wish for this "
    "dialog to be displayed in the future, and you wish for your choice of mode to be "
    "automatically chosen in the future.";

}  // namespace qhs
