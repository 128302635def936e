#include "capture/InterfaceDialog.h"

#include "app/DialogService.h"
#include "app/TextCodec.h"
#include "capture/CaptureSocket.h"
#include "ui_InterfaceDialog.h"

namespace qhs {

InterfaceDialog::InterfaceDialog(PublishedSettings& settings, std::vector<std::string> addresses,
                                 QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::InterfaceDialog>()), settings_(settings) {
    ui_->setupUi(this);
    // The dialog has no close box: OK or Escape end it.
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint) &
                   ~Qt::WindowCloseButtonHint & ~Qt::WindowContextHelpButtonHint);
    ui_->addressList->setColumnWidth(0, 265);
    // Each address goes in as the new first row, so the list reads in reverse order.
    for (const std::string& address : addresses) {
        ui_->addressList->insertTopLevelItem(
            0, new QTreeWidgetItem(QStringList{QString::fromStdString(address)}));
    }
    connect(ui_->okButton, &QPushButton::clicked, this, &InterfaceDialog::takeSelection);
    connect(ui_->addressList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        ui_->addressList->setCurrentItem(item);
        takeSelection();
    });
}

InterfaceDialog::~InterfaceDialog() = default;

void InterfaceDialog::takeSelection() {
    const QList<QTreeWidgetItem*> selected = ui_->addressList->selectedItems();
    if (selected.isEmpty()) {
        dialogService().showMessage(this, UserMessage{"Please choose an interface.", ""});
        return;
    }
    const std::string address = toWindows1252(selected.front()->text(0));
    settings_.change(
        [&address](SettingsRecord& record) { setTextField(record.interfaceAddress, address); });
    accept();
}

bool InterfaceDialog::choose(PublishedSettings& settings, QWidget* owner,
                             const AddressLister& listAddresses) {
    const auto addresses = listAddresses ? listAddresses() : std::nullopt;
    if (!addresses) {
        dialogService().showMessage(owner, UserMessage{"Error getting interface information"});
        return false;
    }
    InterfaceDialog dialog(settings, *addresses, owner);
    return dialogService().runModal(dialog) == QDialog::Accepted;
}

}  // namespace qhs

namespace qhs {

bool InterfaceDialog::probeOnOpening(CaptureSource& source, PublishedSettings& settings,
                                     QWidget* owner, const AddressLister& listAddresses) {
    const ProbeResult probe =
        probeInterface(source, std::string(textField(settings.current().interfaceAddress)));
    for (const UserMessage& message : probe.messages) {
        dialogService().showMessage(owner, message);
    }
    if (probe.outcome == ProbeOutcome::EndProcess) {
        return false;
    }
    if (probe.outcome == ProbeOutcome::ChooseInterface) {
        choose(settings, owner, listAddresses);
    }
    return true;
}

}  // namespace qhs
