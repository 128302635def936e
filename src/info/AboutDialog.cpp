#include "info/AboutDialog.h"

#include <QGuiApplication>
#include <QScopeGuard>
#include <algorithm>

#include "app/DialogService.h"
#include "app/ProductArt.h"
#include "app/TextCodec.h"
#include "info/AboutTexts.h"
#include "ui_AboutDialog.h"

namespace qhs {

namespace {

constexpr int HistoryColumnWidth = 300;

void setImage(QPushButton& button, const QPixmap& image) {
    button.setIcon(image);
    button.setIconSize(image.size());
}

}  // namespace

AboutDialog::AboutDialog(const SettingsRecord& settings,
                         std::function<std::unique_ptr<TcpClient>()> makeClient, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::AboutDialog>()),
      makeClient_(std::move(makeClient)) {
    ui_->setupUi(this);
    setWindowIcon(applicationIcon());
    ui_->creditText->setText(fromWindowsLines(AboutCredit));
    ui_->greetingText->setText(fromWindowsLines(AboutGreeting));
    setImage(*ui_->websiteButton, websiteButtonPixmap());
    setImage(*ui_->emailButton, emailButtonPixmap());
    setImage(*ui_->versionCheckButton, versionCheckButtonPixmap());
    ui_->supportAddress->setText(fromWindows1252(MakerSupportAddress));
    fillHistory(settings.useWindowsColors != 0);
    // The mail button keeps the normal cursor.
    ui_->websiteButton->setCursor(Qt::PointingHandCursor);
    ui_->versionCheckButton->setCursor(Qt::PointingHandCursor);

    connect(ui_->closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->websiteButton, &QPushButton::clicked, this,
            [] { dialogService().openAddress(fromWindows1252(MakerWebSite)); });
    connect(ui_->emailButton, &QPushButton::clicked, this,
            [] { dialogService().openAddress(fromWindows1252(MakerSupportMail)); });
    connect(ui_->versionCheckButton, &QPushButton::clicked, this, &AboutDialog::checkVersion);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::setVersionServer(VersionServer server) {
    versionServer_ = std::move(server);
}

void AboutDialog::checkVersion() {
    VersionCheckOutcome outcome;
    {
        // The exchange blocks this window; the wait cursor is its only feedback, and it is
        // gone before the answer box so the user clicks that with the normal pointer.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
        const std::unique_ptr<TcpClient> client = makeClient_();
        outcome = checkForNewerVersion(*client, versionServer_.host, versionServer_.port);
    }
    if (!outcome.message) {
        return;
    }
    const MessageAnswer answer = dialogService().showMessage(
        this, *outcome.message, outcome.asksYesNo ? MessageButtons::YesNo : MessageButtons::Ok);
    if (outcome.asksYesNo && answer == MessageAnswer::Yes) {
        dialogService().openAddress(QString::fromStdString(descriptionPageAddress()));
    }
}

void AboutDialog::fillHistory(bool windowsColours) {
    QTreeWidget& history = *ui_->versionHistory;
    if (!windowsColours) {
        QPalette palette = history.palette();
        palette.setColor(QPalette::Base, QColor(DarkListBackground));
        palette.setColor(QPalette::Text, QColor(DarkListText));
        history.setPalette(palette);
    }
    // The list shows no header, so its one column's title is never seen.
    history.setHeaderLabels({QStringLiteral("Should be hidden")});
    QList<QTreeWidgetItem*> rows;
    for (const std::string_view row : versionHistoryRows()) {
        rows.append(new QTreeWidgetItem(QStringList{fromWindows1252(row)}));
    }
    history.addTopLevelItems(rows);
    // Wider than usual where the font needs it, so no change is cut short.
    history.resizeColumnToContents(0);
    history.setColumnWidth(0, std::max(HistoryColumnWidth, history.columnWidth(0)));
}

}  // namespace qhs
