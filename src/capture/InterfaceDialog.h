#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/PublishedSettings.h"
#include "capture/CaptureSource.h"

namespace Ui {
class InterfaceDialog;
}

class QTreeWidgetItem;

namespace qhs {

// The machine's IPv4 addresses; nothing when they cannot be listed.
using AddressLister = std::function<std::optional<std::vector<std::string>>()>;

// Lets the user pick the local IPv4 address to capture on and stores it in
// interfaceAddress. Escape closes it without a change.
class InterfaceDialog : public QDialog {
    Q_OBJECT

  public:
    InterfaceDialog(PublishedSettings& settings, std::vector<std::string> addresses,
                    QWidget* parent = nullptr);
    ~InterfaceDialog() override;

    // Lists the machine's addresses and runs the dialog modally; when no address list can
    // be had it says so and returns at once. Returns whether an address was chosen.
    static bool choose(PublishedSettings& settings, QWidget* owner,
                       const AddressLister& listAddresses);

    // The probe a main window runs when it opens: shows the probe's messages, and opens the
    // interface choice when the stored address is no interface. Returns false when a
    // start-up error means the process must end.
    static bool probeOnOpening(CaptureSource& source, PublishedSettings& settings, QWidget* owner,
                               const AddressLister& listAddresses);

  private:
    void takeSelection();

    std::unique_ptr<Ui::InterfaceDialog> ui_;
    PublishedSettings& settings_;
};

}  // namespace qhs
