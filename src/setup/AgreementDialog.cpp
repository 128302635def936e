#include "setup/AgreementDialog.h"

#include <QCloseEvent>

#include "app/ProductArt.h"
#include "app/TextCodec.h"
#include "setup/AgreementText.h"
#include "ui_AgreementDialog.h"

namespace qhs {

AgreementDialog::AgreementDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AgreementDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(applicationIcon());
    for (const std::string_view row : agreementRows()) {
        ui_->agreementList->addItem(fromWindows1252(row));
    }
    connect(ui_->acceptButton, &QPushButton::clicked, this, [this] {
        agreed_ = true;
        accept();
    });
    connect(ui_->declineButton, &QPushButton::clicked, this, [this] {
        agreed_ = false;
        reject();
    });
    // The default button holds the focus, as Enter declines.
    ui_->declineButton->setFocus();
    scrollWatch_.setInterval(10);
    connect(&scrollWatch_, &QTimer::timeout, this, &AgreementDialog::enableAcceptOnceLastRowShown);
}

AgreementDialog::~AgreementDialog() = default;

void AgreementDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Watched only while shown: before its first layout the list looks scrolled to its end.
    if (!ui_->acceptButton->isEnabled()) {
        scrollWatch_.start();
    }
}

void AgreementDialog::closeEvent(QCloseEvent* event) {
    agreed_ = false;
    QDialog::closeEvent(event);
}

void AgreementDialog::enableAcceptOnceLastRowShown() {
    QListWidget& list = *ui_->agreementList;
    const QRect lastRow = list.visualItemRect(list.item(list.count() - 1));
    const bool inView = list.isVisible() && lastRow.isValid() && lastRow.top() >= 0 &&
                        lastRow.bottom() < list.viewport()->height();
    if (inView) {
        ui_->acceptButton->setEnabled(true);
        scrollWatch_.stop();
    }
}

}  // namespace qhs
