#include "packetmode/PacketSnifferDialog.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QThread>
#include <chrono>
#include <cstring>

#include "app/DialogService.h"
#include "app/GeneralSettingsDialog.h"
#include "app/MainMenu.h"
#include "app/ProductArt.h"
#include "app/TextCodec.h"
#include "app/WindowThread.h"
#include "capture/InterfaceDialog.h"
#include "info/AboutDialog.h"
#include "info/HelpDialog.h"
#include "packetmode/FilterSetupDialog.h"
#include "packetmode/PacketFinder.h"
#include "packetmode/PacketListModel.h"
#include "packetmode/PacketListView.h"
#include "packetmode/PacketSorter.h"
#include "packetmode/SavingOptionsDialog.h"
#include "packetmode/SequenceNavigation.h"
#include "ui_PacketSnifferDialog.h"

namespace qhs {

namespace {

constexpr const char* BlinkCaption = "##################";
constexpr int BlinkCaptionCount = 7;
const QColor DarkBackground(DarkListBackground);
const QColor DarkText(DarkListText);

QString itemsCaption(int rows) {
    return QStringLiteral("Sniffer - %1 items").arg(rows);
}

}  // namespace

void PacketSnifferDialog::showOperationProgress(int value) {
    ui_->operationProgress->setValue(value);
}

bool PacketSnifferDialog::askYesNo(const UserMessage& question, QWidget* owner) {
    return dialogService().showMessage(owner, question, MessageButtons::YesNo) ==
           MessageAnswer::Yes;
}

PacketSnifferDialog::PacketSnifferDialog(PublishedSettings& settings, std::string settingsPath,
                                         SystemServices services, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::PacketSnifferDialog>()),
      settings_(settings),
      settingsPath_(std::move(settingsPath)),
      services_(std::move(services)) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setWindowIcon(applicationIcon());
    buildMenu();

    PacketSessionReports reports;
    reports.status = [this](const std::string& status) {
        postToWindowThread(this, [this, status] { setStatusText(status); });
    };
    // A failed log write shows one box at a time; the log waits until it is closed.
    reports.logError = [this](const UserMessage& message) {
        callOnWindowThread(this, [this, &message] { dialogService().showMessage(this, message); });
    };
    session_ = std::make_unique<PacketSession>(settings_, services_, std::move(reports));

    model_ = new PacketListModel(session_->table(), *services_.memory, this);
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

    // Several filter setups may be open at once, beside the running capture.
    connect(ui_->setupFiltersButton, &QPushButton::clicked, this, [this] {
        FilterSetupDialog::openModeless(settings_, &session_->filter(), this, services_.lookups);
    });

    sorter_ = std::make_unique<PacketSorter>(session_->table());
    connect(ui_->soundOnNewPacket, &QCheckBox::toggled, this,
            [this](bool ticked) { session_->setSoundOnNewPacket(ticked); });
    connect(ui_->saveCancelButton, &QPushButton::clicked, this, [this] { saveCancel_ = true; });
    setUpFind();
    connect(ui_->packetList->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &PacketSnifferDialog::sortByColumn);
    for (QRadioButton* rendering : {ui_->showText, ui_->showDec, ui_->showHex}) {
        connect(rendering, &QRadioButton::clicked, this, [this] {
            renderedRow_ = -1;
            renderSelection();
        });
    }
    for (const auto& [field, shown] : detailFields()) {
        field->installEventFilter(this);
    }
    ui_->packetList->installEventFilter(this);
    ui_->packetList->viewport()->installEventFilter(this);
    connect(ui_->packetList, &PacketListView::doubleClicked, this,
            [this] { openPacketMenu(QCursor::pos()); });

    connect(ui_->startButton, &QPushButton::clicked, this, &PacketSnifferDialog::startCapture);
    connect(ui_->stopButton, &QPushButton::clicked, this, &PacketSnifferDialog::stopCapture);
    connect(ui_->clearButton, &QPushButton::clicked, this, &PacketSnifferDialog::clearPackets);
    connect(ui_->matchCase, &QCheckBox::toggled, this,
            [this](bool checked) { session_->filter().setMatchCase(checked); });

    rowTimer_.setInterval(20);
    connect(&rowTimer_, &QTimer::timeout, this, &PacketSnifferDialog::synchronizeList);
    statusTimer_.setInterval(50);
    connect(&statusTimer_, &QTimer::timeout, this, &PacketSnifferDialog::statusCycle);
    selectionTimer_.setInterval(20);
    connect(&selectionTimer_, &QTimer::timeout, this, &PacketSnifferDialog::selectionCycle);
    blinkTimer_.setInterval(200);
    connect(&blinkTimer_, &QTimer::timeout, this, &PacketSnifferDialog::blinkStep);
}

PacketSnifferDialog::~PacketSnifferDialog() {
    session_->state().quitting = true;
    session_->stop();
    waitForWorkers();
}

void PacketSnifferDialog::waitForWorkers() {
    finishClearThread();
    saveCancel_ = true;
    finder_->stopIfRunning();
    // Workers may be waiting for this thread: it serves them until each has ended.
    operations_.waitUntil([this] {
        return operations_.running() == 0 && !session_->logger().errorBoxOpen() &&
               !finder_->searchRunning.load();
    });
    finder_->joinIfEnded();
}

void PacketSnifferDialog::buildMenu() {
    const MainMenu menu = buildMainMenu(*this);
    menuBar_ = menu.bar;
    connect(menu.save, &QAction::triggered, this, &PacketSnifferDialog::saveList);
    // A capture file for tcpdump, Wireshark and tshark, beside the saved text list.
    QAction* exportFile = new QAction(QStringLiteral("Export capture file..."), menu.file);
    exportFile->setObjectName(QStringLiteral("exportCaptureFile"));
    menu.file->insertAction(menu.exit, exportFile);
    // Capture files of tcpdump, Wireshark and the like, read into the list.
    QAction* openFile = new QAction(QStringLiteral("Open capture file..."), menu.file);
    openFile->setObjectName(QStringLiteral("openCaptureFile"));
    menu.file->insertAction(menu.save, openFile);
    connect(openFile, &QAction::triggered, this, &PacketSnifferDialog::openCaptureFile);
    connect(exportFile, &QAction::triggered, this, &PacketSnifferDialog::exportCaptureFile);
    connect(menu.exit, &QAction::triggered, this, &PacketSnifferDialog::closeWindow);
    connect(menu.networkInterface, &QAction::triggered, this,
            &PacketSnifferDialog::chooseInterface);
    // Commands whose dialogs are not part of the window yet.
    connect(menu.help, &QAction::triggered, this, [this] {
        HelpDialog help(this);
        dialogService().runModal(help);
    });
    connect(menu.about, &QAction::triggered, this, [this] {
        AboutDialog about(settings_.current(), services_.makeTcpClient, this);
        dialogService().runModal(about);
    });
    connect(menu.general, &QAction::triggered, this, [this] {
        GeneralSettingsDialog dialog(settings_, this, services_.makeSoundPlayer());
        connect(&dialog, &GeneralSettingsDialog::colourSchemeChanged, this,
                &PacketSnifferDialog::applyColourScheme);
        dialogService().runModal(dialog);
    });
}

void PacketSnifferDialog::setUpList() {
    PacketListView* view = ui_->packetList;
    view->setModel(model_);
    view->setRowHeight(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(false);
    const auto& widths = PacketListModel::columnWidths();
    for (int column = 0; column < PacketListColumnCount; ++column) {
        view->setColumnWidth(column, widths[static_cast<std::size_t>(column)]);
    }
}

bool PacketSnifferDialog::initialize() {
    rowTimer_.start();
    statusTimer_.start();
    selectionTimer_.start();
    setWindowTitle(QStringLiteral("Sniffer - Waiting"));
    ui_->storeGauge->setRange(0, PacketStoreCapacity);
    applyColourScheme();
    restoreControls();

    // Probe the stored interface before the user can press Start.
    if (!InterfaceDialog::probeOnOpening(*services_.captureSource(), settings_, this,
                                         services_.interfaceAddresses)) {
        return false;
    }
    session_->startCompanions();
    return true;
}

void PacketSnifferDialog::restoreControls() {
    const SettingsRecord& record = settings_.current();
    ui_->findText->setText(fromWindows1252(textField(record.findText)));
    ui_->matchCase->setChecked(record.matchCase != 0);
    ui_->soundOnNewPacket->setChecked(record.soundOnNewPacket != 0);
    ui_->applyFilters->setChecked(record.applyFilters != 0);
    session_->setSoundOnNewPacket(record.soundOnNewPacket != 0);
    ui_->showText->setChecked(record.detailShowText != 0);
    ui_->showDec->setChecked(record.detailShowDec != 0);
    ui_->showHex->setChecked(record.detailShowHex != 0);
    session_->filter().setMatchCase(record.matchCase != 0);
    session_->filter().refresh(record.applyFilters != 0, record);
}

int PacketSnifferDialog::run(PublishedSettings& settings, const std::string& settingsPath,
                             const SystemServices& services) {
    PacketSnifferDialog window(settings, settingsPath, services);
    if (!window.initialize()) {
        return 0;
    }
    runMainWindow(window);
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
    showMessages(session_->start().messages);
}

void PacketSnifferDialog::stopCapture() {
    ui_->storeGauge->setRange(0, PacketStoreCapacity);
    session_->stop();
}

void PacketSnifferDialog::chooseInterface() {
    InterfaceDialog::choose(settings_, this, services_.interfaceAddresses);
    if (session_->state().capturing.load()) {
        stopCapture();
        startCapture();
    }
}

void PacketSnifferDialog::synchronizeList() {
    PacketListView* view = ui_->packetList;
    QScrollBar* bar = view->verticalScrollBar();
    // A view within two rows of the end follows arriving rows; one scrolled further up
    // stays where the user left it.
    const bool atEnd = bar->value() + 2 >= bar->maximum() - 1;
    const PacketListModel::SyncResult sync = model_->synchronize();
    if (sync.synchronized) {
        ui_->storeGauge->setValue(session_->table().storedCount());
    }
    if (sync.appendedRows > 0 && atEnd && ui_->listArea->currentIndex() == 0) {
        view->scrollToBottom();
    }
}

void PacketSnifferDialog::clearPackets() {
    if (clearRunning_.load() || session_->readingFile()) {
        return;
    }
    finishClearThread();
    ui_->storeGauge->setRange(0, PacketStoreCapacity);
    clearRunning_ = true;
    operations_.start([this] {
        clearOnThisThread();
        clearRunning_ = false;
    });
}

ClearHooks PacketSnifferDialog::clearHooks() {
    ClearHooks hooks;
    hooks.stopSearch = [this] { finder_->stopIfRunning(); };
    hooks.beforeFree = [this](std::int32_t storedCount) {
        callOnWindowThread(this, [this, storedCount] {
            model_->detach();
            ui_->entirePacket->clear();
            ui_->storeGauge->setValue(0);
            showProgressPage(storedCount);
        });
    };
    hooks.progress = [this](std::int32_t slot) { operationProgress_.report(slot); };
    hooks.afterFree = [this] {
        callOnWindowThread(this, [this] {
            showListPage();
            model_->attach();
            emptyDetailView();
        });
    };
    return hooks;
}

void PacketSnifferDialog::clearOnThisThread() {
    session_->clear(clearHooks());
}

void PacketSnifferDialog::finishClearThread() {
    // The clear thread may be waiting for this thread, so it is served until it ends.
    operations_.waitUntil([this] { return !clearRunning_.load(); });
}

void PacketSnifferDialog::emptyDetailView() {
    showDetail(PacketDetail{});
    renderedRow_ = -1;
}

void PacketSnifferDialog::statusCycle() {
    // A running blink owns the caption; the memory status and the filter go on beside it.
    if (blinkStep_ == 0) {
        updateCaption();
    }
    showMemoryStatus();
    session_->filter().refresh(ui_->applyFilters->isChecked(), settings_.current());
    // A capture or a search that ended by itself leaves its thread to be joined.
    session_->joinIfEnded();
    finder_->joinIfEnded();
}

void PacketSnifferDialog::updateCaption() {
    const bool capturing = session_->state().capturing.load();
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
        // Rows that arrive during the blink differ from this count and give one more blink.
        captionCount_ = rows;
        if (settings_.current().noTaskbarBlink == 0) {
            startBlink();
        } else {
            setWindowTitle(itemsCaption(rows));
        }
    }
}

void PacketSnifferDialog::startBlink() {
    blinkStep_ = 1;
    setWindowTitle(QString::fromLatin1(BlinkCaption));
    blinkTimer_.start();
}

void PacketSnifferDialog::blinkStep() {
    // Seven captions of 200 ms each: number signs, then the count, in turn, ending on the
    // number signs; after the last one the count is shown again and the blink is over.
    if (blinkStep_ == BlinkCaptionCount) {
        blinkTimer_.stop();
        blinkStep_ = 0;
        setWindowTitle(itemsCaption(model_->rowCount()));
        return;
    }
    setWindowTitle(blinkStep_ % 2 == 1 ? itemsCaption(model_->rowCount())
                                       : QString::fromLatin1(BlinkCaption));
    ++blinkStep_;
}

std::uint64_t PacketSnifferDialog::droppedCount() const {
    return session_->droppedCount();
}

void PacketSnifferDialog::showMemoryStatus() {
    const std::uint64_t freeKb = services_.availableMemoryBytes() / 1024;
    const std::uint64_t allocatedKb = session_->table().allocatedBytes() / 1024;
    const std::uint64_t dropped = droppedCount();
    if (freeKb == shownFreeKb_ && allocatedKb == shownAllocatedKb_ && dropped == shownDropped_) {
        return;
    }
    shownFreeKb_ = freeKb;
    shownAllocatedKb_ = allocatedKb;
    shownDropped_ = dropped;
    QString text = QStringLiteral(
                       "Free physical RAM:       %1 KB\nPacket data "
                       "allocation: %2 KB")
                       .arg(freeKb)
                       .arg(allocatedKb);
    // Only a capture that lost datagrams says so; otherwise the status reads as always.
    if (dropped != 0) {
        text += QStringLiteral("\nDropped by the system: %1").arg(dropped);
    }
    ui_->memoryStatus->setText(text);
}

void PacketSnifferDialog::applyColourScheme() {
    QPalette listPalette = QApplication::palette(ui_->packetList);
    QPalette panePalette = QApplication::palette(ui_->entirePacket);
    if (settings_.current().useWindowsColors == 0) {
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
    session_->state().quitting = true;
    rowTimer_.stop();
    statusTimer_.stop();
    blinkTimer_.stop();
    selectionTimer_.stop();
    // End the capture first, so the clear below never waits on a capture in progress.
    session_->stop();
    waitForWorkers();
    QThread::msleep(100);

    settings_.change([this](SettingsRecord& record) {
        setTextField(record.findText, toWindows1252(ui_->findText->text()));
        record.matchCase = ui_->matchCase->isChecked() ? 1 : 0;
        record.soundOnNewPacket = ui_->soundOnNewPacket->isChecked() ? 1 : 0;
        record.detailShowText = ui_->showText->isChecked() ? 1 : 0;
        record.detailShowDec = ui_->showDec->isChecked() ? 1 : 0;
        record.detailShowHex = ui_->showHex->isChecked() ? 1 : 0;
        record.applyFilters = ui_->applyFilters->isChecked() ? 1 : 0;
    });
    saveSettings(settings_.current(), settingsPath_);

    model_->detach();
    session_->end();
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

void PacketSnifferDialog::setUpFind() {
    FindHooks hooks;
    hooks.findText = [this] {
        return callOnWindowThread(this, [this] { return toWindows1252(ui_->findText->text()); });
    };
    hooks.matchCase = [this] {
        return callOnWindowThread(this, [this] { return ui_->matchCase->isChecked(); });
    };
    hooks.setProgressRange = [this](std::int32_t count) {
        postToWindowThread(this, [this, count] { ui_->operationProgress->setRange(0, count); });
    };
    hooks.setProgress = [this](std::int32_t slot) { operationProgress_.report(slot); };
    hooks.showProgressBar = [this](bool shown) {
        callOnWindowThread(this, [this, shown] {
            ui_->saveCancelButton->hide();
            ui_->listArea->setCurrentIndex(shown ? 1 : 0);
        });
    };
    hooks.selectMatch = [this](std::int32_t row, std::int32_t) {
        callOnWindowThread(this, [this, row] {
            model_->synchronize(true);
            selectRow(row);
        });
    };
    hooks.clearSelection = [this] {
        callOnWindowThread(this, [this] {
            ui_->packetList->clearSelection();
            ui_->packetList->setCurrentIndex(QModelIndex());
            ui_->packetList->scrollToBottom();
            emptyDetailView();
        });
    };
    hooks.showMessage = [this](const UserMessage& message) {
        callOnWindowThread(this, [this, &message] { dialogService().showMessage(this, message); });
    };
    hooks.ask = [this](const UserMessage& question) {
        return callOnWindowThread(this, [this, &question] { return askYesNo(question, this); });
    };
    finder_ = std::make_unique<PacketFinder>(session_->table(), std::move(hooks),
                                             services_.lowerThreadPriority);
    connect(ui_->findButton, &QPushButton::clicked, this, &PacketSnifferDialog::findOrNext);
    // Typing in the find box ends a running search.
    connect(ui_->findText, &QLineEdit::textEdited, this, [this] { finder_->stopIfRunning(); });
}

void PacketSnifferDialog::findOrNext() {
    finder_->findOrNext();
}

void PacketSnifferDialog::chooseSavingOptions() {
    // Either answer lets the save go on; Continue only changes how it writes.
    SavingOptionsDialog options(settings_, this);
    dialogService().runModal(options);
}

void PacketSnifferDialog::saveList() {
    writeStoreOnThread(QStringLiteral("Text Files (*.txt);;All Files (*)"), true,
                       &PacketSession::save);
}

void PacketSnifferDialog::exportCaptureFile() {
    writeStoreOnThread(QStringLiteral("Capture Files (*.pcap);;All Files (*)"), false,
                       &PacketSession::exportCaptureFile);
}

void PacketSnifferDialog::writeStoreOnThread(const QString& fileTypes, bool askSavingOptions,
                                             StoreWriter writer) {
    ++runningSaveThreads_;
    operations_.start([this, fileTypes, askSavingOptions, writer] {
        services_.lowerThreadPriority();
        const QString path = callOnWindowThread(this, [this, &fileTypes] {
            return dialogService().saveFileName(this, QString(), QString(), fileTypes);
        });
        if (!path.isEmpty()) {
            if (askSavingOptions) {
                callOnWindowThread(this, [this] { chooseSavingOptions(); });
            }
            SaveHooks hooks;
            hooks.started = [this](std::int32_t storedCount) {
                ++activeSaves_;
                callOnWindowThread(this, [this, storedCount] {
                    ui_->operationProgress->setRange(0, storedCount);
                    ui_->operationProgress->setValue(0);
                    ui_->saveCancelButton->show();
                    ui_->listArea->setCurrentIndex(1);
                });
            };
            hooks.progress = [this](std::int32_t slot) { operationProgress_.report(slot); };
            const SaveOutcome outcome = (session_.get()->*writer)(
                QFile::encodeName(path).toStdString(), saveCancel_, hooks);
            if (outcome.message) {
                callOnWindowThread(this, [this, &outcome] {
                    dialogService().showMessage(this, *outcome.message);
                });
            }
            if (outcome.status != SaveStatus::NotCreated) {
                // The list comes back when the last running save ends.
                if (activeSaves_.load() == 1) {
                    callOnWindowThread(this, [this] {
                        ui_->listArea->setCurrentIndex(0);
                        ui_->saveCancelButton->hide();
                    });
                }
                --activeSaves_;
            }
        }
        --runningSaveThreads_;
    });
}

void PacketSnifferDialog::showProgressPage(int maximum) {
    ui_->operationProgress->setRange(0, maximum);
    ui_->operationProgress->setValue(0);
    ui_->saveCancelButton->hide();
    ui_->listArea->setCurrentIndex(1);
}

void PacketSnifferDialog::showListPage() {
    ui_->listArea->setCurrentIndex(0);
}

void PacketSnifferDialog::openCaptureFile() {
    if (openingFile_.exchange(true)) {
        return;
    }
    operations_.start([this] {
        const QString path = callOnWindowThread(this, [this] {
            return dialogService().openFileName(
                this, QString(), QString(),
                QStringLiteral("Capture Files (*.pcap *.pcapng *.cap);;All Files (*)"));
        });
        if (!path.isEmpty()) {
            readCaptureFile(QFile::encodeName(path).toStdString());
        }
        openingFile_ = false;
    });
}

void PacketSnifferDialog::readCaptureFile(const std::string& path) {
    CaptureFileReadHooks hooks;
    hooks.checking = [this] {
        callOnWindowThread(this, [this] { showProgressPage(CaptureFileProgressSteps); });
    };
    hooks.progress = [this](int step) { operationProgress_.report(step); };
    hooks.proceed = [this, &path](std::int32_t held) {
        return callOnWindowThread(this, [this, held, &path] {
            showListPage();
            if (held == 0) {
                return true;
            }
            UserMessage question;
            question.text = "The list holds " + std::to_string(held) +
                            " packets. Replace them with the packets of " + path + "?";
            question.icon = MessageIcon::Question;
            return askYesNo(question, this);
        });
    };
    hooks.replacing = [this] {
        callOnWindowThread(this, [this] {
            finishClearThread();
            stopCapture();
        });
    };
    hooks.clear = clearHooks();
    // The bar stands in for the list meanwhile, which takes in the rows once at the end
    // instead of each twentieth of a second.
    hooks.loading = [this] {
        callOnWindowThread(this, [this] {
            model_->detach();
            showProgressPage(CaptureFileProgressSteps);
        });
    };
    hooks.loaded = [this](const std::string& status) {
        callOnWindowThread(this, [this, &status] {
            model_->attach();
            showListPage();
            setStatusText(status);
        });
    };
    const CaptureFileRead read = session_->readCaptureFile(path, hooks);
    if (read.fault) {
        UserMessage message;
        message.text = captureFileFaultText(path, *read.fault);
        message.icon = MessageIcon::Warning;
        callOnWindowThread(this, [this, &message] {
            showListPage();
            dialogService().showMessage(this, message);
        });
    }
}

int PacketSnifferDialog::selectionMark() const {
    const QModelIndexList selected = ui_->packetList->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.front().row();
}

void PacketSnifferDialog::selectRow(int row) {
    if (row < 0 || row >= model_->rowCount()) {
        return;
    }
    ui_->packetList->selectRow(row);
    ui_->packetList->scrollTo(model_->index(row, 0));
}

void PacketSnifferDialog::selectionCycle() {
    // The watcher never waits: a busy list is looked at again on the next tick.
    const int row = selectionMark();
    if (row < 0 || row == renderedRow_) {
        return;
    }
    renderSelection();
}

void PacketSnifferDialog::renderSelection() {
    const int row = selectionMark();
    if (row < 0) {
        return;
    }
    const std::int32_t slot = model_->slotOfRow(row);
    PacketDetail detail;
    {
        // The window never waits for the guard here: a busy guard skips this cycle.
        const PacketTable::Access access = session_->table().tryLock();
        if (!access) {
            return;
        }
        detail = qhs::renderDetail(
            access.store(), slot,
            chooseEntirePacketRendering(ui_->showText->isChecked(), ui_->showDec->isChecked(),
                                        ui_->showHex->isChecked()));
    }
    renderedRow_ = row;
    showDetail(detail);
    if (detail.invalidPacketQuestion) {
        // The question has no owner window, as a box of the watcher would have.
        const bool yes = askYesNo(*detail.invalidPacketQuestion, nullptr);
        if (answerInvalidPacketQuestion(yes, session_->table(), row, slot)) {
            model_->synchronize(true);
        }
    }
}

std::vector<std::pair<QLineEdit*, DetailField>> PacketSnifferDialog::detailFields() const {
    return {{ui_->packetSize, DetailField::PacketSize},
            {ui_->ttl, DetailField::Ttl},
            {ui_->protocolNumber, DetailField::ProtocolNumber},
            {ui_->packetType, DetailField::PacketType},
            {ui_->ipChecksum, DetailField::IpChecksum},
            {ui_->fromIp, DetailField::FromIp},
            {ui_->toIp, DetailField::ToIp},
            {ui_->fromPort, DetailField::FromPort},
            {ui_->fromPortUse, DetailField::FromPortUse},
            {ui_->toPort, DetailField::ToPort},
            {ui_->toPortUse, DetailField::ToPortUse},
            {ui_->sequence, DetailField::Sequence},
            {ui_->acknowledgement, DetailField::Acknowledgement},
            {ui_->tcpWindow, DetailField::Window}};
}

void PacketSnifferDialog::showDetail(const PacketDetail& detail) {
    shownDetail_ = detail;
    for (const auto& [box, field] : detailFields()) {
        box->setText(fromWindows1252(detail.text(field)));
    }
    ui_->ttlLabel->setText(QString::fromLatin1(detail.ipv6 ? HopLimitLabelText : TtlLabelText));
    ui_->ipChecksumLabel->setText(
        QString::fromLatin1(detail.ipv6 ? FlowLabelLabelText : IpChecksumLabelText));
    ui_->entirePacket->setPlainText(fromWindows1252(detail.entirePacket));
    ui_->packetData->setPlainText(fromWindows1252(detail.packetData));
    ui_->flagURG->setVisible(detail.flagLabels.urgent);
    ui_->flagACK->setVisible(detail.flagLabels.acknowledgement);
    ui_->flagPSH->setVisible(detail.flagLabels.push);
    ui_->flagRST->setVisible(detail.flagLabels.reset);
    ui_->flagSYN->setVisible(detail.flagLabels.synchronize);
    ui_->flagFIN->setVisible(detail.flagLabels.finish);
}

void PacketSnifferDialog::highlightField(DetailField field) {
    if (selectionMark() < 0) {
        return;
    }
    const std::optional<CharacterRange> range = highlightRange(shownDetail_, field);
    if (!range) {
        return;
    }
    // The pane keeps each "\r\n" as one line break.
    const CharacterRange shown = withSingleCharacterLineBreaks(*range, shownDetail_.entirePacket);
    QTextCursor cursor = ui_->entirePacket->textCursor();
    cursor.setPosition(static_cast<int>(shown.begin));
    cursor.setPosition(static_cast<int>(shown.end), QTextCursor::KeepAnchor);
    ui_->entirePacket->setTextCursor(cursor);
    ui_->entirePacket->ensureCursorVisible();
}

void PacketSnifferDialog::sortByColumn(int column) {
    if (sortRunning_) {
        return;  // a sort that waits for the guard serves events meanwhile, clicks among them
    }
    sortRunning_ = true;
    SortHooks hooks;
    hooks.ask = [this](const UserMessage& question) { return askYesNo(question, this); };
    hooks.waitForGuard = [this](PacketTable::Access& access) {
        // The window keeps painting while it waits; it blocks only for the sort itself.
        if (access.tryLock()) {
            return true;
        }
        serveEventsUntil(
            [this, &access] { return session_->state().quitting.load() || access.tryLock(); });
        return access.held();
    };
    hooks.sorting = [](bool sorting) {
        if (sorting) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    };
    const SortResult result = sorter_->sortByColumn(column, hooks);
    sortRunning_ = false;
    if (result == SortResult::Sorted) {
        model_->synchronize(true);
    }
}

std::unique_ptr<QMenu> PacketSnifferDialog::makePacketMenu() {
    model_->synchronize(true);
    menuContext_ = qhs::openPacketMenu(session_->table(), selectionMark());
    if (!menuContext_.opens()) {
        return nullptr;
    }
    auto menu = std::make_unique<QMenu>(this);
    auto addItem = [this](QMenu* parent, const char* text, int id, auto&& action) {
        QAction* item = parent->addAction(QString::fromLatin1(text));
        item->setProperty("controlId", id);
        item->setObjectName(QStringLiteral("command%1").arg(id));
        connect(item, &QAction::triggered, this, action);
        return item;
    };
    addItem(menu.get(), "Reverse resolve &Source IP address", 32782,
            [this] { reverseResolve(AddressField::Source); });
    addItem(menu.get(), "Reverse resolve D&estination IP address", 32783,
            [this] { reverseResolve(AddressField::Destination); });
    menu->addSeparator();
    QMenu* tcp = menu->addMenu(QStringLiteral("TCP specific options"));
    tcp->setObjectName(QStringLiteral("tcpOptions"));
    tcp->setEnabled(menuContext_.tcpOptionsEnabled);
    addItem(tcp, "Goto &previous sequenced packet with same ACK", 32786,
            [this] { gotoSequence(static_cast<int>(SequenceCommand::Previous)); });
    addItem(tcp, "Goto &next sequenced packet with same ACK", 32785,
            [this] { gotoSequence(static_cast<int>(SequenceCommand::Next)); });
    tcp->addSeparator();
    addItem(tcp, "Goto &first sequenced packet with same ACK", 32787,
            [this] { gotoSequence(static_cast<int>(SequenceCommand::First)); });
    addItem(tcp, "Goto &last sequenced packet with same ACK", 32788,
            [this] { gotoSequence(static_cast<int>(SequenceCommand::Last)); });
    menu->addSeparator();
    addItem(menu.get(), "&Delete packet from list", 32784, [this] { deleteContextRow(); });
    return menu;
}

void PacketSnifferDialog::openPacketMenu(const QPoint& globalPosition) {
    std::unique_ptr<QMenu> menu = makePacketMenu();
    if (menu) {
        menu->exec(globalPosition);
    }
}

void PacketSnifferDialog::reverseResolve(AddressField field) {
    const int row = selectionMark();
    std::optional<std::int32_t> slot;
    if (row >= 0) {
        slot = model_->slotOfRow(row);
    }
    ++runningResolvers_;
    operations_.start([this, slot, field] {
        const std::optional<UserMessage> message = qhs::reverseResolve(
            session_->table(), slot, field,
            [this](const std::array<std::uint8_t, 4>& bytes) -> std::optional<std::string> {
                std::uint32_t address = 0;
                std::memcpy(&address, bytes.data(), sizeof address);
                return services_.lookups.addressName ? services_.lookups.addressName(address)
                                                     : std::nullopt;
            },
            [this](const std::array<std::uint8_t, 16>& address) -> std::optional<std::string> {
                return services_.lookups.ipv6AddressName
                           ? services_.lookups.ipv6AddressName(address)
                           : std::nullopt;
            });
        if (message) {
            callOnWindowThread(this,
                               [this, &message] { dialogService().showMessage(this, *message); });
        }
        --runningResolvers_;
    });
}

void PacketSnifferDialog::deleteContextRow() {
    if (qhs::deleteContextRow(menuContext_, session_->table(), [this](const UserMessage& question) {
            return askYesNo(question, this);
        })) {
        model_->synchronize(true);
    }
}

void PacketSnifferDialog::gotoSequence(int command) {
    if (!menuContext_.opens()) {
        return;
    }
    const SequenceWalkOutcome outcome = qhs::gotoSequence(
        static_cast<SequenceCommand>(command), menuContext_.slot, session_->table(),
        [this](const UserMessage& question) { return askYesNo(question, this); });
    if (outcome.selectRow >= 0) {
        model_->synchronize(true);
        selectRow(outcome.selectRow);
        renderSelection();
    }
    if (outcome.message) {
        dialogService().showMessage(this, *outcome.message);
    }
}

bool PacketSnifferDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu &&
        (watched == ui_->packetList || watched == ui_->packetList->viewport())) {
        const auto* request = static_cast<QContextMenuEvent*>(event);
        // From the keyboard the menu opens near the window's top-left corner.
        const QPoint position = request->reason() == QContextMenuEvent::Keyboard
                                    ? mapToGlobal(QPoint(5, 20))
                                    : request->globalPos();
        openPacketMenu(position);
        return true;
    }
    if (event->type() == QEvent::FocusIn) {
        for (const auto& [box, field] : detailFields()) {
            if (watched == box) {
                highlightField(field);
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void PacketSnifferDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace qhs
