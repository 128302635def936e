#include "packetmode/PacketSnifferDialog.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScrollBar>
#include <QThread>
#include <chrono>

#include "app/DialogService.h"
#include "app/MainMenu.h"
#include "app/ProductArt.h"
#include "app/TextCodec.h"
#include "capture/CaptureSocket.h"
#include "capture/InterfaceDialog.h"
#include "packetmode/PacketListModel.h"
#include "platform/LinuxCaptureSource.h"
#include "platform/ProcessFacts.h"
#include "ui_PacketSnifferDialog.h"

namespace qhs {

namespace {

constexpr const char* BlinkCaption = "##################";
const QColor DarkBackground(70, 50, 50);
const QColor DarkText(175, 255, 255);

QString itemsCaption(int rows) {
    return QStringLiteral("Sniffer - %1 items").arg(rows);
}

}  // namespace

template <typename Work>
void PacketSnifferDialog::runOnWindowThread(Work&& work) {
    if (QThread::currentThread() == thread()) {
        work();
    } else {
        QMetaObject::invokeMethod(this, std::forward<Work>(work), Qt::BlockingQueuedConnection);
    }
}

PacketSnifferDialog::PacketSnifferDialog(SettingsRecord& settings, std::string settingsPath,
                                         CaptureSourceFactory makeSource, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::PacketSnifferDialog>()),
      settings_(settings),
      settingsPath_(std::move(settingsPath)),
      makeSource_(makeSource != nullptr ? makeSource : &LinuxCaptureSource::create),
      store_(std::make_unique<PacketStore>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setWindowIcon(applicationIcon());
    buildMenu();

    PacketCaptureContext context{
        state_, *store_, list_, filter_, settings_, [this](const std::string& status) {
            QMetaObject::invokeMethod(
                this, [this, status] { setStatusText(status); }, Qt::QueuedConnection);
        }};
    capture_ = std::make_unique<PacketCapture>(context, makeSource_, &raiseThreadPriority);

    model_ = new PacketListModel(state_, *store_, list_, this);
    setUpList();

    ui_->startButton->setIcon(startButtonPixmap());
    ui_->stopButton->setIcon(stopButtonPixmap());
    ui_->clearButton->setIcon(clearButtonPixmap());
    ui_->startButton->setToolTip(QStringLiteral("Start"));
    ui_->stopButton->setToolTip(QStringLiteral("Stop"));
    ui_->clearButton->setToolTip(QStringLiteral("Clear"));
    makeWebsiteLogo(*ui_->logo);
    ui_->memoryStatus->setText(QStringLiteral("Status of ram\nOther status"));

    QFont paneFont;
    paneFont.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Lucida Console"),
                          QStringLiteral("Terminal")});
    paneFont.setStyleHint(QFont::TypeWriter);
    paneFont.setPointSize(9);
    ui_->entirePacket->setFont(paneFont);
    ui_->packetData->setFont(paneFont);
    ui_->packetData->setLineWrapMode(QPlainTextEdit::NoWrap);

    emptyDetailView();

    // Filled by later work on the window: the detail view, find, filters and saving.
    ui_->findButton->setEnabled(false);
    ui_->setupFiltersButton->setEnabled(false);

    connect(ui_->startButton, &QPushButton::clicked, this, &PacketSnifferDialog::startCapture);
    connect(ui_->stopButton, &QPushButton::clicked, this, &PacketSnifferDialog::stopCapture);
    connect(ui_->clearButton, &QPushButton::clicked, this, &PacketSnifferDialog::clearPackets);
    connect(ui_->matchCase, &QCheckBox::toggled, this,
            [this](bool checked) { filter_.setMatchCase(checked); });

    rowTimer_.setInterval(20);
    connect(&rowTimer_, &QTimer::timeout, this, &PacketSnifferDialog::synchronizeList);
    statusTimer_.setInterval(50);
    connect(&statusTimer_, &QTimer::timeout, this, &PacketSnifferDialog::statusCycle);
    blinkTimer_.setInterval(200);
    connect(&blinkTimer_, &QTimer::timeout, this, &PacketSnifferDialog::blinkStep);
}

PacketSnifferDialog::~PacketSnifferDialog() {
    state_.quitting = true;
    capture_->stop();
    finishClearThread();
}

void PacketSnifferDialog::buildMenu() {
    const MainMenu menu = buildMainMenu(*this);
    menuBar_ = menu.bar;
    connect(menu.exit, &QAction::triggered, this, &PacketSnifferDialog::closeWindow);
    connect(menu.networkInterface, &QAction::triggered, this,
            &PacketSnifferDialog::chooseInterface);
    // Commands whose dialogs are not part of the window yet.
    for (QAction* later : {menu.save, menu.general, menu.help, menu.about}) {
        later->setEnabled(false);
    }
}

void PacketSnifferDialog::setUpList() {
    QTableView* view = ui_->packetList;
    view->setModel(model_);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(false);
    const auto& widths = PacketListModel::columnWidths();
    for (int column = 0; column < PacketListModel::ColumnCount; ++column) {
        view->setColumnWidth(column, widths[static_cast<std::size_t>(column)]);
    }
}

bool PacketSnifferDialog::initialize() {
    rowTimer_.start();
    statusTimer_.start();
    setWindowTitle(QStringLiteral("Sniffer - Waiting"));
    ui_->storeGauge->setRange(0, PacketStoreCapacity);
    applyColourScheme();
    restoreControls();

    // Probe the stored interface before the user can press Start.
    const std::unique_ptr<CaptureSource> probeSource = makeSource_();
    const ProbeResult probe =
        probeInterface(*probeSource, std::string(textField(settings_.interfaceAddress)));
    showMessages(probe.messages);
    if (probe.outcome == ProbeOutcome::EndProcess) {
        return false;
    }
    if (probe.outcome == ProbeOutcome::ChooseInterface) {
        InterfaceDialog::choose(settings_, this);
    }
    return true;
}

void PacketSnifferDialog::restoreControls() {
    ui_->findText->setText(fromWindows1252(textField(settings_.findText)));
    ui_->matchCase->setChecked(settings_.matchCase != 0);
    ui_->soundOnNewPacket->setChecked(settings_.soundOnNewPacket != 0);
    ui_->applyFilters->setChecked(settings_.applyFilters != 0);
    ui_->showText->setChecked(settings_.detailShowText != 0);
    ui_->showDec->setChecked(settings_.detailShowDec != 0);
    ui_->showHex->setChecked(settings_.detailShowHex != 0);
    filter_.setMatchCase(settings_.matchCase != 0);
    filter_.refresh(settings_.applyFilters != 0, settings_);
}

int PacketSnifferDialog::run(SettingsRecord& settings, const std::string& settingsPath) {
    PacketSnifferDialog window(settings, settingsPath);
    if (!window.initialize()) {
        return 0;
    }
    window.exec();
    return 0;
}

void PacketSnifferDialog::showMessages(const std::vector<UserMessage>& messages) {
    for (const UserMessage& message : messages) {
        dialogService().showMessage(this, message);
    }
}

void PacketSnifferDialog::setStatusText(const std::string& text) {
    ui_->statusText->setText(fromWindows1252(text));
}

void PacketSnifferDialog::startCapture() {
    if (state_.capturing.load()) {
        return;
    }
    showMessages(capture_->start().messages);
}

void PacketSnifferDialog::stopCapture() {
    ui_->storeGauge->setRange(0, PacketStoreCapacity);
    capture_->stop();
}

void PacketSnifferDialog::chooseInterface() {
    InterfaceDialog::choose(settings_, this);
    if (state_.capturing.load()) {
        stopCapture();
        startCapture();
    }
}

void PacketSnifferDialog::synchronizeList() {
    QTableView* view = ui_->packetList;
    QScrollBar* bar = view->verticalScrollBar();
    // A view within two rows of the end follows arriving rows; one scrolled further up
    // stays where the user left it.
    const bool atEnd = bar->value() + 2 >= bar->maximum() - 1;
    const PacketListModel::SyncResult sync = model_->synchronize();
    if (sync.synchronized) {
        ui_->storeGauge->setValue(store_->storedCount());
    }
    if (sync.appendedRows > 0 && atEnd && ui_->listArea->currentIndex() == 0) {
        view->scrollToBottom();
    }
}

void PacketSnifferDialog::clearPackets() {
    if (clearRunning_.load()) {
        return;
    }
    finishClearThread();
    ui_->storeGauge->setRange(0, PacketStoreCapacity);
    clearRunning_ = true;
    clearThread_ = std::thread([this] {
        ClearHooks hooks;
        hooks.beforeFree = [this](std::int32_t storedCount) {
            runOnWindowThread([this, storedCount] {
                model_->detach();
                ui_->entirePacket->clear();
                ui_->storeGauge->setValue(0);
                ui_->operationProgress->setRange(0, storedCount);
                ui_->operationProgress->setValue(0);
                ui_->saveCancelButton->hide();
                ui_->listArea->setCurrentIndex(1);
            });
        };
        hooks.progress = [this](std::int32_t slot) {
            QMetaObject::invokeMethod(
                this, [this, slot] { ui_->operationProgress->setValue(slot); },
                Qt::QueuedConnection);
        };
        hooks.afterFree = [this] {
            runOnWindowThread([this] {
                ui_->listArea->setCurrentIndex(0);
                model_->attach();
                emptyDetailView();
            });
        };
        qhs::clearPackets(state_, *store_, list_, hooks);
        clearRunning_ = false;
    });
}

void PacketSnifferDialog::finishClearThread() {
    // The clear thread may be waiting for this thread, so keep serving it until it ends.
    while (clearRunning_.load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (clearThread_.joinable()) {
        clearThread_.join();
    }
}

void PacketSnifferDialog::emptyDetailView() {
    for (QLineEdit* field :
         {ui_->packetType, ui_->fromIp, ui_->toIp, ui_->packetSize, ui_->fromPort, ui_->toPort,
          ui_->protocolNumber, ui_->ttl, ui_->ipChecksum, ui_->fromPortUse, ui_->toPortUse,
          ui_->tcpWindow, ui_->sequence, ui_->acknowledgement}) {
        field->clear();
    }
    ui_->entirePacket->clear();
    ui_->packetData->clear();
    for (QLabel* flag :
         {ui_->flagURG, ui_->flagACK, ui_->flagPSH, ui_->flagRST, ui_->flagSYN, ui_->flagFIN}) {
        flag->hide();
    }
}

void PacketSnifferDialog::statusCycle() {
    if (blinkStepsLeft_ > 0) {
        return;  // a blink holds the caption, and the status waits for it
    }
    const bool capturing = state_.capturing.load();
    const int rows = model_->rowCount();
    if (!capturing && captionShowsCount_) {
        setWindowTitle(QStringLiteral("Sniffer - Stopped"));
        captionShowsCount_ = false;
    }
    if (capturing && !captionShowsCount_) {
        setWindowTitle(itemsCaption(rows));
        captionShowsCount_ = true;
        captionCount_ = rows;
    }
    if (capturing && rows != captionCount_) {
        captionCount_ = rows;
        if (settings_.noTaskbarBlink == 0) {
            startBlink(rows);
            return;
        }
        setWindowTitle(itemsCaption(rows));
    }
    showMemoryStatus();
    filter_.refresh(ui_->applyFilters->isChecked(), settings_);
}

void PacketSnifferDialog::startBlink(int rows) {
    blinkRows_ = rows;
    blinkStepsLeft_ = 7;
    blinkStep();
    blinkTimer_.start();
}

void PacketSnifferDialog::blinkStep() {
    // Number signs and the count take turns every 200 ms, ending on the number signs; the
    // status cycle then writes the count again.
    if (blinkStepsLeft_ <= 0) {
        blinkTimer_.stop();
        return;
    }
    const bool numberSigns = blinkStepsLeft_ % 2 == 1;
    setWindowTitle(numberSigns ? QString::fromLatin1(BlinkCaption) : itemsCaption(blinkRows_));
    --blinkStepsLeft_;
    if (blinkStepsLeft_ == 0) {
        QTimer::singleShot(200, this, [this] {
            blinkTimer_.stop();
            setWindowTitle(itemsCaption(model_->rowCount()));
            captionCount_ = model_->rowCount();
        });
    }
}

void PacketSnifferDialog::showMemoryStatus() {
    const std::uint64_t freeKb = availableMemoryBytes() / 1024;
    const std::uint64_t allocatedKb = store_->allocatedBytes() / 1024;
    if (freeKb == shownFreeKb_ && allocatedKb == shownAllocatedKb_) {
        return;
    }
    shownFreeKb_ = freeKb;
    shownAllocatedKb_ = allocatedKb;
    ui_->memoryStatus->setText(QStringLiteral("Free physical RAM:       %1 KB\nPacket data "
                                              "allocation: %2 KB")
                                   .arg(freeKb)
                                   .arg(allocatedKb));
}

void PacketSnifferDialog::applyColourScheme() {
    QPalette listPalette = QApplication::palette(ui_->packetList);
    QPalette panePalette = QApplication::palette(ui_->entirePacket);
    if (settings_.useWindowsColors == 0) {
        for (QPalette* palette : {&listPalette, &panePalette}) {
            palette->setColor(QPalette::Base, DarkBackground);
            palette->setColor(QPalette::Text, DarkText);
        }
    }
    ui_->packetList->setPalette(listPalette);
    ui_->entirePacket->setPalette(panePalette);
    ui_->packetData->setPalette(panePalette);
    ui_->packetList->viewport()->update();
    ui_->entirePacket->viewport()->update();
    ui_->packetData->viewport()->update();
}

void PacketSnifferDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!layoutRecorded_) {
        // Once it has opened, the window cannot be made smaller than it opened.
        QTimer::singleShot(50, this, [this] {
            layoutRecorded_ = true;
            setMinimumSize(size());
        });
    }
}

void PacketSnifferDialog::closeWindow() {
    if (closing_) {
        return;
    }
    closing_ = true;
    state_.quitting = true;
    rowTimer_.stop();
    statusTimer_.stop();
    blinkTimer_.stop();
    // End the capture first, so the clear below never waits on a capture in progress.
    capture_->stop();
    finishClearThread();
    QThread::msleep(100);

    setTextField(settings_.findText, toWindows1252(ui_->findText->text()));
    settings_.matchCase = ui_->matchCase->isChecked() ? 1 : 0;
    settings_.soundOnNewPacket = ui_->soundOnNewPacket->isChecked() ? 1 : 0;
    settings_.detailShowText = ui_->showText->isChecked() ? 1 : 0;
    settings_.detailShowDec = ui_->showDec->isChecked() ? 1 : 0;
    settings_.detailShowHex = ui_->showHex->isChecked() ? 1 : 0;
    settings_.applyFilters = ui_->applyFilters->isChecked() ? 1 : 0;
    saveSettings(settings_, settingsPath_);

    model_->detach();
    ClearHooks hooks;
    qhs::clearPackets(state_, *store_, list_, hooks);
    done(0);
}

void PacketSnifferDialog::closeEvent(QCloseEvent* event) {
    closeWindow();
    event->accept();
}

void PacketSnifferDialog::reject() {
    // Escape never closes the window; only the close box and File > Exit do.
    if (closing_) {
        QDialog::reject();
    }
}

void PacketSnifferDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace qhs
