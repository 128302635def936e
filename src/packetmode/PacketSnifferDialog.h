#pragma once

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>

#include "app/OperationThreads.h"
#include "app/PublishedSettings.h"
#include "app/UserMessage.h"
#include "app/WindowThread.h"
#include "capture/SystemServices.h"
#include "packetmode/PacketContextMenu.h"
#include "packetmode/PacketDetail.h"
#include "packetmode/PacketSession.h"

namespace Ui {
class PacketSnifferDialog;
}

class QAction;
class QLineEdit;
class QMenu;
class QMenuBar;

namespace qhs {

class PacketFinder;
class PacketListModel;
class PacketSorter;

// The main window of Packet Sniffer Mode: the packet list, the capture controls, the detail
// view and the options. It is the window of a packet session (the capture, the store and its
// list, the filter, the log): its timers keep the list, the caption and the status up to date
// on the window thread, and its workers run the session's Clear, Save, Export and Open.
class PacketSnifferDialog : public QDialog {
    Q_OBJECT

  public:
    PacketSnifferDialog(PublishedSettings& settings, std::string settingsPath,
                        SystemServices services, QWidget* parent = nullptr);
    ~PacketSnifferDialog() override;

    // The steps of opening, the interface probe among them. Returns false when a start-up
    // error means the process must end (exit code 0) without running the window.
    bool initialize();

    // Opens the window for a run and returns the exit code once it has closed.
    static int run(PublishedSettings& settings, const std::string& settingsPath,
                   const SystemServices& services);

    // The buttons and menu commands, callable by tests as a click would.
    void startCapture();
    void stopCapture();
    void clearPackets();
    void chooseInterface();
    // Re-reads useWindowsColors and repaints the list and the data panes.
    void applyColourScheme();
    // Closes as the close box does: saves the settings, frees the store, ends the run.
    void closeWindow();

    PacketSession& session() { return *session_; }
    PacketSnifferState& state() { return session_->state(); }
    PacketTable& table() { return session_->table(); }
    PacketFilter& filter() { return session_->filter(); }
    PacketListModel& model() { return *model_; }
    QMenuBar& menuBar() { return *menuBar_; }
    bool clearRunning() const { return clearRunning_.load(); }
    // Datagrams the system dropped for this window's captures so far.
    std::uint64_t droppedCount() const;
    // Copies new rows into the view now instead of at the next timer tick.
    void synchronizeList();

    // The list's selected row, or -1.
    int selectionMark() const;
    void selectRow(int row);
    // Renders the selected row into the detail view now, as the selection watcher does when
    // the selection changes.
    void renderSelection();
    const PacketDetail& shownDetail() const { return shownDetail_; }
    // "Find / Next".
    void findOrNext();
    PacketFinder& finder() { return *finder_; }
    // A click on a column header.
    void sortByColumn(int column);
    // The packet menu for the selected row, ready to show; null when no menu opens. Its
    // actions carry their command ids as controlId.
    std::unique_ptr<QMenu> makePacketMenu();
    void openPacketMenu(const QPoint& globalPosition);
    void reverseResolve(AddressField field);
    void deleteContextRow();
    void gotoSequence(int command);
    bool resolverRunning() const { return runningResolvers_.load() > 0; }
    // File > Save: picks a file and writes the store to it on a thread of its own.
    void saveList();
    // File > "Export capture file...": the store as a pcap file, on a thread as a save is.
    void exportCaptureFile();
    // File > "Open capture file...": a pcap or pcapng file into the list, as if captured.
    void openCaptureFile();
    bool openingCaptureFile() const { return openingFile_.load(); }
    int activeSaves() const { return activeSaves_.load(); }
    int runningSaveThreads() const { return runningSaveThreads_.load(); }
    PacketLogger& logger() { return session_->logger(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void showEvent(QShowEvent* event) override;

  private:
    void buildMenu();
    void setUpList();
    void restoreControls();
    void statusCycle();
    void updateCaption();
    void startBlink();
    void blinkStep();
    void showMemoryStatus();
    void setStatusText(const std::string& text);
    void showMessages(const std::vector<UserMessage>& messages);
    void emptyDetailView();
    void showDetail(const PacketDetail& detail);
    // Each decoded field's box, with the field it shows.
    std::vector<std::pair<QLineEdit*, DetailField>> detailFields() const;
    void selectionCycle();
    void highlightField(DetailField field);
    void setUpFind();
    void waitForWorkers();
    // The Saving options dialog, modal, before each save.
    void chooseSavingOptions();
    using StoreWriter = SaveOutcome (PacketSession::*)(const std::string& path,
                                                       std::atomic<bool>& cancel,
                                                       const SaveHooks& hooks);
    // Asks for the file and writes the whole store to it on a thread of its own.
    void writeStoreOnThread(const QString& fileTypes, bool askSavingOptions, StoreWriter writer);
    void finishClearThread();
    // The window's part in a Clear.
    ClearHooks clearHooks();
    // The work of Clear, on the calling worker thread.
    void clearOnThisThread();
    // Checks the file, asks before the list is replaced, then reads it into the list; on the
    // calling worker thread.
    void readCaptureFile(const std::string& path);
    // Puts the progress bar in the list's place, over a range of 0 to `maximum`.
    void showProgressPage(int maximum);
    void showListPage();
    bool askYesNo(const UserMessage& question, QWidget* owner);
    void showOperationProgress(int value);

    std::unique_ptr<Ui::PacketSnifferDialog> ui_;
    QMenuBar* menuBar_ = nullptr;
    // The run's record: every change is published to the worker threads as it is made.
    PublishedSettings& settings_;
    std::string settingsPath_;
    SystemServices services_;

    // Clear, save and the name look-ups, each on a thread of its own.
    OperationThreads operations_;
    // Their progress, shown by the bar that stands in for the list.
    ProgressRelay operationProgress_{this, [this](int value) { showOperationProgress(value); }};
    // Outlives the model, the finder and the sorter, which look at its list.
    std::unique_ptr<PacketSession> session_;
    PacketListModel* model_ = nullptr;
    std::unique_ptr<PacketFinder> finder_;
    std::unique_ptr<PacketSorter> sorter_;
    PacketDetail shownDetail_;
    int renderedRow_ = -1;
    PacketMenuContext menuContext_;
    std::atomic<int> runningResolvers_{0};
    QTimer selectionTimer_;
    std::atomic<int> activeSaves_{0};
    std::atomic<int> runningSaveThreads_{0};
    std::atomic<bool> saveCancel_{false};

    QTimer rowTimer_;
    QTimer statusTimer_;
    QTimer blinkTimer_;
    // 0 while no blink runs, else the caption of the blink on show, from 1.
    int blinkStep_ = 0;
    bool captionShowsCount_ = false;
    int captionCount_ = 0;
    std::uint64_t shownFreeKb_ = ~std::uint64_t{0};
    std::uint64_t shownAllocatedKb_ = ~std::uint64_t{0};
    std::uint64_t shownDropped_ = 0;

    std::atomic<bool> clearRunning_{false};
    // From the file's choice until it has been read; Start and Clear wait for it.
    std::atomic<bool> openingFile_{false};
    bool closing_ = false;
    bool sortRunning_ = false;
    bool layoutRecorded_ = false;
};

}  // namespace qhs
