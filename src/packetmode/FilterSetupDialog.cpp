#include "packetmode/FilterSetupDialog.h"

#include <QListWidget>
#include <QRegularExpressionValidator>
#include <mutex>

#include "analysis/PacketFilter.h"
#include "app/DialogService.h"
#include "app/IpAddressEdit.h"
#include "app/ProductArt.h"
#include "app/TextCodec.h"
#include "app/WindowThread.h"
#include "filemode/FileSegmentFilter.h"
#include "ui_FilterSetupDialog.h"

namespace qhs {

namespace {

// Texts are read as far as their record fields hold them.
constexpr qsizetype EntryReadLength = 99;
constexpr qsizetype TextReadLength = 1023;

std::string fieldText(const QLineEdit* edit) {
    return toWindows1252(edit->text().left(TextReadLength));
}

}  // namespace

FilterSetupDialog::FilterSetupDialog(PublishedSettings& settings, PacketFilter* filter,
                                     HostLookups lookups, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::FilterSetupDialog>()),
      settings_(settings),
      filter_(filter),
      lookups_(std::move(lookups)) {
    ui_->setupUi(this);
    setWindowIcon(applicationIcon());
    entries_ = {ui_->sourceIpEntry, ui_->sourceIpNotEntry, ui_->destIpEntry, ui_->destIpNotEntry,
                ui_->eitherIpEntry};
    lists_ = {ui_->sourceIpList, ui_->sourceIpNotList, ui_->destIpList, ui_->destIpNotList,
              ui_->eitherIpList};
    ports_ = {ui_->sourcePorts, ui_->sourcePortsNot, ui_->destPorts, ui_->destPortsNot,
              ui_->eitherPorts};
    const std::array<QPushButton*, FilterListCount> addButtons = {
        ui_->addSourceIp, ui_->addSourceIpNot, ui_->addDestIp, ui_->addDestIpNot, ui_->addEitherIp};
    const std::array<QPushButton*, FilterListCount> removeButtons = {
        ui_->removeSourceIp, ui_->removeSourceIpNot, ui_->removeDestIp, ui_->removeDestIpNot,
        ui_->removeEitherIp};
    for (std::size_t i = 0; i < FilterListCount; ++i) {
        const auto list = static_cast<FilterListIndex>(i);
        connect(addButtons[i], &QPushButton::clicked, this, [this, list] { addAddress(list); });
        connect(removeButtons[i], &QPushButton::clicked, this,
                [this, list] { removeAddress(list); });
    }
    const auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    ui_->minimumSize->setValidator(digits);
    ui_->maximumSize->setValidator(digits);

    connect(ui_->resolveButton, &QPushButton::clicked, this, &FilterSetupDialog::resolve);
    connect(ui_->reverseResolveButton, &QPushButton::clicked, this,
            &FilterSetupDialog::reverseResolve);
    connect(ui_->copyToFiltersButton, &QPushButton::clicked, this,
            &FilterSetupDialog::copyToFilters);
    connect(ui_->okButton, &QPushButton::clicked, this, [this] {
        apply();
        accept();
    });
    connect(ui_->applyButton, &QPushButton::clicked, this, &FilterSetupDialog::apply);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &FilterSetupDialog::reject);
    fillControls();
}

FilterSetupDialog::~FilterSetupDialog() {
    lookupThread_.join();
}

FilterSetupDialog* FilterSetupDialog::openModeless(PublishedSettings& settings,
                                                   PacketFilter* filter, QObject* closesWith,
                                                   HostLookups lookups) {
    auto* dialog = new FilterSetupDialog(settings, filter, std::move(lookups));
    dialog->deleteWhenClosed_ = true;
    if (closesWith != nullptr) {
        connect(closesWith, &QObject::destroyed, dialog, [dialog] { delete dialog; });
    }
    dialog->show();
    // Takes the keyboard from the window whose button opened it, with or without a window
    // manager (a new window is mapped on top of the others).
    dialog->activateWindow();
    return dialog;
}

void FilterSetupDialog::fillControls() {
    const FilterSetupValues values = FilterSetupValues::read(settings_.current());
    for (std::size_t i = 0; i < FilterListCount; ++i) {
        entries_[i]->setText(fromWindows1252(values.addressEntries[i]));
        for (const std::string& row : values.addressRows[i]) {
            lists_[i]->addItem(fromWindows1252(row));
        }
        ports_[i]->setText(fromWindows1252(values.portTexts[i]));
    }
    const std::array<QLineEdit*, 3> contains = {ui_->contains1, ui_->contains2, ui_->contains3};
    const std::array<QLineEdit*, 3> lacks = {ui_->lacks1, ui_->lacks2, ui_->lacks3};
    for (std::size_t i = 0; i < 3; ++i) {
        contains[i]->setText(fromWindows1252(values.containsStrings[i]));
        lacks[i]->setText(fromWindows1252(values.lacksStrings[i]));
    }
    ui_->resolverHost->setText(fromWindows1252(values.resolverHost));
    ui_->allowTcp->setChecked(values.allowTcp);
    ui_->allowUdp->setChecked(values.allowUdp);
    ui_->allowIcmp->setChecked(values.allowIcmp);
    ui_->allowOther->setChecked(values.allowOther);
    ui_->minimumSize->setText(fromWindows1252(values.minimumSizeText));
    ui_->maximumSize->setText(fromWindows1252(values.maximumSizeText));
    minimumSizeAsRead_ = values.minimumSizeAsRead;
    maximumSizeAsRead_ = values.maximumSizeAsRead;
}

std::vector<std::string> FilterSetupDialog::rowsOf(FilterListIndex list) const {
    std::vector<std::string> rows;
    for (int row = 0; row < lists_[list]->count(); ++row) {
        rows.push_back(toWindows1252(lists_[list]->item(row)->text()));
    }
    return rows;
}

FilterSetupValues FilterSetupDialog::currentValues() const {
    FilterSetupValues values;
    for (std::size_t i = 0; i < FilterListCount; ++i) {
        values.addressEntries[i] = toWindows1252(entries_[i]->text());
        values.addressRows[i] = rowsOf(static_cast<FilterListIndex>(i));
        values.portTexts[i] = toWindows1252(ports_[i]->text());
    }
    values.containsStrings = {fieldText(ui_->contains1), fieldText(ui_->contains2),
                              fieldText(ui_->contains3)};
    values.lacksStrings = {fieldText(ui_->lacks1), fieldText(ui_->lacks2), fieldText(ui_->lacks3)};
    values.resolverHost = fieldText(ui_->resolverHost);
    values.allowTcp = ui_->allowTcp->isChecked();
    values.allowUdp = ui_->allowUdp->isChecked();
    values.allowIcmp = ui_->allowIcmp->isChecked();
    values.allowOther = ui_->allowOther->isChecked();
    values.minimumSizeText = toWindows1252(ui_->minimumSize->text());
    values.maximumSizeText = toWindows1252(ui_->maximumSize->text());
    values.minimumSizeAsRead = minimumSizeAsRead_;
    values.maximumSizeAsRead = maximumSizeAsRead_;
    return values;
}

void FilterSetupDialog::apply() {
    const FilterSetupValues values = currentValues();
    const auto store = [&values](SettingsRecord& record) { values.store(record); };
    settings_.change(store);
    // The new filter is published whole; the capture takes it from its next datagram on.
    if (filter_ != nullptr) {
        filter_->reload(settings_.current());
    }
}

void FilterSetupDialog::addAddress(FilterListIndex list) {
    std::vector<std::string> rows = rowsOf(list);
    const std::string entry = toWindows1252(entries_[list]->text().left(EntryReadLength));
    if (FilterSetupValues::addAddressRow(rows, entry)) {
        lists_[list]->insertItem(0, fromWindows1252(entry));
    }
}

void FilterSetupDialog::removeAddress(FilterListIndex list) {
    const int row = lists_[list]->currentRow();
    if (row >= 0) {
        delete lists_[list]->takeItem(row);
    }
}

void FilterSetupDialog::resolve() {
    startLookup(AfterResolve::Nothing);
}

void FilterSetupDialog::reverseResolve() {
    startLookup(AfterResolve::ReverseResolve);
}

void FilterSetupDialog::copyToFilters() {
    startLookup(AfterResolve::CopyToFilters);
}

void FilterSetupDialog::startLookup(AfterResolve after) {
    if (resolving_) {
        return;
    }
    setResolving(true);
    const std::string host = fieldText(ui_->resolverHost);
    lookupThread_.start([this, host, after, lookups = lookups_] {
        LookupResult result;
        result.address = lookups.hostAddress ? lookups.hostAddress(host) : std::nullopt;
        if (result.address && after == AfterResolve::ReverseResolve) {
            result.name = lookups.addressName ? lookups.addressName(filterAddress(*result.address))
                                              : std::nullopt;
        }
        // The destructor joins this thread, so the dialog is still alive here.
        postToWindowThread(this, [this, after, result] { finishLookup(after, result); });
    });
}

void FilterSetupDialog::finishLookup(AfterResolve after, const LookupResult& result) {
    setResolving(false);
    if (closed_) {
        // Closed while the look-up ran: nobody is waiting for its answer any more.
        if (deleteWhenClosed_) {
            deleteLater();
        }
        return;
    }
    if (!result.address) {
        lastResolveSucceeded_ = false;
        dialogService().showMessage(this, UserMessage{"Unable to resolve host name"});
        return;
    }
    const QString address = fromWindows1252(*result.address);
    ui_->resolverHost->setText(address);
    lastResolveSucceeded_ = true;
    if (after == AfterResolve::ReverseResolve) {
        if (result.name) {
            ui_->resolverHost->setText(fromWindows1252(*result.name));
        } else {
            dialogService().showMessage(this, UserMessage{"Unable to reverse resolve address.",
                                                          "Error", MessageIcon::Stop});
        }
    } else if (after == AfterResolve::CopyToFilters) {
        for (IpAddressEdit* entry : entries_) {
            entry->setText(address);
        }
    }
}

void FilterSetupDialog::setResolving(bool resolving) {
    resolving_ = resolving;
    for (QWidget* control :
         std::initializer_list<QWidget*>{ui_->resolverHost, ui_->resolveButton,
                                         ui_->reverseResolveButton, ui_->copyToFiltersButton}) {
        control->setEnabled(!resolving);
    }
    if (resolving) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void FilterSetupDialog::showEvent(QShowEvent* event) {
    closed_ = false;
    QDialog::showEvent(event);
}

void FilterSetupDialog::done(int result) {
    closed_ = true;
    QDialog::done(result);
    // A running look-up finishes first; finishLookup deletes the dialog then.
    if (deleteWhenClosed_ && !resolving_) {
        deleteLater();
    }
}

}  // namespace qhs
