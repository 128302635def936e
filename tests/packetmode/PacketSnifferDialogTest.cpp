#include <gtest/gtest.h>

#include <signal.h>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTreeWidget>

#include <algorithm>
#include <functional>

#include "packetmode/PacketFinder.h"
#include "packetmode/PacketListModel.h"
#include "packetmode/PacketListView.h"
#include "packetmode/PacketLogger.h"
#include "packetmode/PacketSnifferDialog.h"
#include "support/CommandOutput.h"
#include "support/FileContents.h"
#include "support/HostileDatagrams.h"
#include "support/LoopbackTraffic.h"
#include "support/QtWait.h"
#include "support/QueuedCaptureSource.h"
#include "support/RequireRoot.h"
#include "support/SavingOptionsAnswers.h"
#include "support/ScriptedDialogService.h"
#include "support/TempDir.h"
#include "support/TestDatagram.h"
#include "support/TestServices.h"

namespace qhs {
namespace {

QueuedCaptureSource*& queuedSource = lastQueuedSource;

class PacketSnifferWindow : public testing::Test {
  protected:
    PacketSnifferWindow() {
        published.change(
            [](SettingsRecord& settings) { setTextField(settings.interfaceAddress, "127.0.0.1"); });
    }

    std::unique_ptr<PacketSnifferDialog> open(CaptureSourceFactory factory = nullptr) {
        auto window =
            std::make_unique<PacketSnifferDialog>(published, settingsPath, servicesWith(factory));
        EXPECT_TRUE(window->initialize());
        window->resize(900, 650);
        window->show();
        return window;
    }

    // Rows currently shown, as the list's cell texts.
    static std::vector<QStringList> shownRows(PacketSnifferDialog& window) {
        window.synchronizeList();
        std::vector<QStringList> rows;
        for (int row = 0; row < window.model().rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < PacketListColumnCount; ++column) {
                cells << window.model().cellText(row, column);
            }
            rows.push_back(cells);
        }
        return rows;
    }

    ScriptedDialogService user;
    TempDir dir;
    std::string settingsPath = (dir.path() / "window.QHS").string();
    PublishedSettings published;
};

TEST_F(PacketSnifferWindow, RealLoopbackTrafficBecomesRowsAndStopClearAndFiltersWork) {
    REQUIRE_ROOT();
    auto window = open();
    ASSERT_TRUE(user.shown.empty());
    EXPECT_EQ(window->windowTitle(), "Sniffer - Waiting");
    window->startCapture();
    ASSERT_TRUE(window->state().capturing);
    auto* status = controlById<QLabel>(*window, 1004);
    EXPECT_TRUE(waitUntil([&] { return status->text() == "Listening on: 127.0.0.1"; }));

    // A receiver, so the datagrams draw no "port unreachable" answers.
    const int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in receiverAddress = loopbackAddress(40000);
    ASSERT_EQ(::bind(receiver, reinterpret_cast<const sockaddr*>(&receiverAddress),
                     sizeof receiverAddress),
              0);
    ASSERT_TRUE(sendLoopbackUdp(40000, std::string(12, 'u')));
    ASSERT_TRUE(sendLoopbackUdp(40000, std::string(100, 'u')));
    ASSERT_TRUE(exchangeLoopbackTcp(40001, "hello over tcp"));
    ASSERT_TRUE(pingLoopback(1));
    ASSERT_TRUE(waitUntil([&] { return shownRows(*window).size() >= 2 + 2 + 2; }));
    // The echo reply went out last, and loopback keeps the order: once it is listed, so is
    // everything sent before it.
    ASSERT_TRUE(waitUntil([&] {
        const std::vector<QStringList> listed = shownRows(*window);
        return std::count_if(listed.begin(), listed.end(),
                             [](const QStringList& row) { return row[0] == "ICMP"; }) >= 2;
    }));

    const std::vector<QStringList> rows = shownRows(*window);
    const QRegularExpression timeText(R"(^\d{4}\.\d\d\.\d\d - \d\d:\d\d:\d\d\.\d{3}$)");
    int udp = 0, tcpToServer = 0, icmp = 0;
    for (const QStringList& row : rows) {
        EXPECT_EQ(row[2], "127.0.0.1");
        EXPECT_EQ(row[3], "127.0.0.1");
        EXPECT_TRUE(timeText.match(row[6]).hasMatch()) << row[6].toStdString();
        EXPECT_EQ(row[7], "");
        if (row[0] == "UDP") {
            ++udp;
            EXPECT_EQ(row[5], "40000");
            EXPECT_TRUE(row[1] == "40" || row[1] == "128") << row[1].toStdString();
        } else if (row[0] == "TCP") {
            tcpToServer += row[5] == "40001" ? 1 : 0;
        } else if (row[0] == "ICMP") {
            ++icmp;
            EXPECT_EQ(row[1], "36");
            EXPECT_EQ(row[4], "");
            EXPECT_EQ(row[5], "");
        }
    }
    EXPECT_EQ(udp, 2);
    EXPECT_GE(tcpToServer, 3) << "handshake, data and close towards the server";
    EXPECT_EQ(icmp, 2) << "the echo request and its reply, each once";
    EXPECT_EQ(window->table().storedCount(), static_cast<std::int32_t>(rows.size()));
    EXPECT_TRUE(waitUntil([&] {
        return window->windowTitle() == QStringLiteral("Sniffer - %1 items").arg(rows.size());
    }));

    window->stopCapture();
    EXPECT_FALSE(window->state().capturing);
    EXPECT_TRUE(waitUntil([&] { return status->text() == "Stopped"; }));
    EXPECT_TRUE(waitUntil([&] { return window->windowTitle() == "Sniffer - Stopped"; }));

    window->clearPackets();
    ASSERT_TRUE(waitUntil([&] { return !window->clearRunning(); }));
    EXPECT_EQ(window->table().storedCount(), 0);
    EXPECT_EQ(window->table().lock().list().rowCount(), 0);
    EXPECT_TRUE(shownRows(*window).empty());
    EXPECT_EQ(window->table().allocatedBytes(), 0u);

    // With the filters applied and UDP switched off, UDP leaves no row and no slot.
    published.change([](SettingsRecord& settings) { settings.filterAllowUdp = 0; });
    controlById<QCheckBox>(*window, 1080)->setChecked(true);
    // The window hands the filters over at its next status cycle.
    std::vector<std::uint8_t> udpBlock = makeDatagram(17, 60);
    udpBlock.resize(udpBlock.size() + PacketBlockSpareBytes);
    ASSERT_TRUE(waitUntil([&] { return !window->filter().accept(udpBlock.data(), 60).accepted; }));
    window->startCapture();
    ASSERT_TRUE(sendLoopbackUdp(40000, "dropped"));
    ASSERT_TRUE(exchangeLoopbackTcp(40003, "kept"));
    // The UDP datagram went out before the exchange: kept, it would be listed before these.
    ASSERT_TRUE(waitUntil([&] { return shownRows(*window).size() >= 3; }));
    for (const QStringList& row : shownRows(*window)) {
        EXPECT_NE(row[0], "UDP");
    }
    window->stopCapture();
    window->closeWindow();
    ::close(receiver);
}

// Every caption the window shows, in order.
class CaptionRecorder : public QObject {
  public:
    explicit CaptionRecorder(QWidget& window) : window_(window) { window.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::WindowTitleChange) {
            captions.push_back(window_.windowTitle());
            if (onCaption) {
                onCaption();
            }
        }
        return false;
    }
    int blinks() const { return static_cast<int>(captions.count(BlinkCaption)) / 4; }

    static inline const QString BlinkCaption = QStringLiteral("##################");
    QWidget& window_;
    QStringList captions;
    std::function<void()> onCaption;  // runs after each caption is recorded
};

TEST_F(PacketSnifferWindow, CaptionBlinksWhileRowsArriveAndTheStatusGoesOn) {
    published.change([](SettingsRecord& settings) {
        settings.filterAllowUdp = 0;
    });  // takes effect once the filters are applied
    auto window = open(&openQueuedSource);
    ASSERT_EQ(published.current().noTaskbarBlink, 0);
    CaptionRecorder recorder(*window);
    window->startCapture();
    // Rows arrive with every caption, so each caption of a blink has newer ones to count.
    recorder.onCaption = [] {
        for (int i = 0; i < 5; ++i) {
            queuedSource->push(makeDatagram(17, 60, 1, 2));
        }
    };
    auto* memory = controlById<QLabel>(*window, 1018);
    ASSERT_TRUE(waitUntil([&] { return recorder.blinks() >= 3; }, 10000));
    // The memory status follows the growing allocation through the blinks.
    const QString memoryBefore = memory->text();
    EXPECT_TRUE(waitUntil([&] { return memory->text() != memoryBefore; }, 2000));

    // Applying the filters still takes effect: UDP stops arriving as rows.
    // They are handed over at a status cycle; from then on a UDP datagram leaves no row.
    controlById<QCheckBox>(*window, 1080)->setChecked(true);
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::size_t rowsBefore = shownRows(*window).size();
            queuedSource->push(makeDatagram(17, 60, 1, 2));
            return queuedSource->waitUntilHandled() && shownRows(*window).size() == rowsBefore;
        },
        5000));
    recorder.onCaption = nullptr;
    window->stopCapture();
    EXPECT_TRUE(waitUntil([&] { return window->windowTitle() == "Sniffer - Stopped"; }, 3000));

    // Each blink is number signs and the current count in turn, four times, and each count
    // within a blink is newer than the one before it.
    const QStringList& captions = recorder.captions;
    const qsizetype firstBlink = captions.indexOf(CaptionRecorder::BlinkCaption);
    ASSERT_GT(firstBlink, 0);
    const QRegularExpression count(R"(^Sniffer - (\d+) items$)");
    int blinksChecked = 0;
    for (qsizetype at = firstBlink; at + 8 <= captions.size() && blinksChecked < 3; at += 8) {
        int previous = -1;
        for (int step = 0; step < 8; ++step) {
            const QString& caption = captions[at + step];
            if (step % 2 == 0) {
                ASSERT_EQ(caption, CaptionRecorder::BlinkCaption) << at + step;
                continue;
            }
            const QRegularExpressionMatch match = count.match(caption);
            ASSERT_TRUE(match.hasMatch()) << caption.toStdString();
            EXPECT_GT(match.captured(1).toInt(), previous) << caption.toStdString();
            previous = match.captured(1).toInt();
        }
        ++blinksChecked;
    }
    EXPECT_EQ(blinksChecked, 3);
    EXPECT_EQ(captions.back(), "Sniffer - Stopped");
    window->closeWindow();
}

TEST_F(PacketSnifferWindow, GarbageInterfaceAddressOpensTheInterfaceChoice) {
    REQUIRE_ROOT();
    published.change([](SettingsRecord& settings) {
        setTextField(settings.interfaceAddress, "not an address \x01\xff");
    });
    bool asked = false;
    user.dialogHandlers.push_back([&](QDialog&) {
        asked = true;
        return QDialog::Rejected;
    });
    auto window = open();
    EXPECT_TRUE(asked);
    window->startCapture();
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text.rfind("Unable to listen on the interface: not an", 0), 0u);
    EXPECT_FALSE(window->state().capturing);
    window->closeWindow();
}

TEST_F(PacketSnifferWindow, TheInterfaceChosenAtOpeningIsTheOneStartCapturesOn) {
    REQUIRE_ROOT();
    published.change([](SettingsRecord& settings) { setTextField(settings.interfaceAddress, ""); });
    user.dialogHandlers.push_back([](QDialog& dialog) {
        auto* list = controlById<QTreeWidget>(dialog, 1037);
        const QList<QTreeWidgetItem*> loopback =
            list->findItems(QStringLiteral("127.0.0.1"), Qt::MatchExactly);
        EXPECT_EQ(loopback.size(), 1);
        if (!loopback.isEmpty()) {
            list->setCurrentItem(loopback.front());
        }
        controlById<QPushButton>(dialog, 1)->click();
        return dialog.result();
    });
    auto window = open();
    window->startCapture();
    EXPECT_TRUE(user.shown.empty()) << user.shown.front().message.text;
    EXPECT_TRUE(window->state().capturing);
    window->closeWindow();
}

TEST_F(PacketSnifferWindow, ViewFollowsArrivingRowsOnlyWhileAtTheEnd) {
    auto window = open(&openQueuedSource);
    window->startCapture();
    for (int i = 0; i < 300; ++i) {
        queuedSource->push(makeDatagram(17, 60 + static_cast<std::size_t>(i % 10), 1, 2));
    }
    ASSERT_TRUE(waitUntil([&] { return shownRows(*window).size() == 300; }));
    auto* view = controlById<PacketListView>(*window, 1000);
    QScrollBar* bar = view->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 20);
    EXPECT_EQ(bar->value(), bar->maximum()) << "at the end, the view follows";

    for (int i = 0; i < 50; ++i) {
        queuedSource->push(makeDatagram(17, 70, 1, 2));
    }
    ASSERT_TRUE(waitUntil([&] { return shownRows(*window).size() == 350; }));
    EXPECT_EQ(bar->value(), bar->maximum());

    const int scrolledUp = bar->maximum() - 10;
    bar->setValue(scrolledUp);
    for (int i = 0; i < 50; ++i) {
        queuedSource->push(makeDatagram(17, 70, 1, 2));
    }
    ASSERT_TRUE(waitUntil([&] { return shownRows(*window).size() == 400; }));
    EXPECT_EQ(bar->value(), scrolledUp) << "scrolled up, the view stays where it was";
    window->closeWindow();
}

TEST_F(PacketSnifferWindow, TruncatedDatagramsShowWithoutFault) {
    auto window = open(&openQueuedSource);
    window->startCapture();
    queuedSource->push({});
    queuedSource->push({0x45});
    queuedSource->push(makeDatagram(6, 19));
    std::vector<std::uint8_t> shortUdp = makeDatagram(17, 22);
    shortUdp[21] = 5;  // the source port fits, the destination port does not
    queuedSource->push(shortUdp);
    std::vector<std::uint8_t> largest(65535, 0xFF);
    largest[9] = 200;  // a protocol number without a name
    queuedSource->push(largest);
    ASSERT_TRUE(waitUntil([&] { return shownRows(*window).size() == 5; }));
    const auto rows = shownRows(*window);
    EXPECT_EQ(rows[0][1], "0");
    EXPECT_EQ(rows[3][0], "UDP");
    EXPECT_EQ(rows[3][4], "5");
    EXPECT_EQ(rows[3][5], "0") << "a port beyond the captured bytes reads as 0";
    EXPECT_EQ(rows[4][1], "65535");
    EXPECT_EQ(rows[4][0], QString::fromUtf8("\u00BF?")) << "protocol 200 has no name";
    window->closeWindow();
}

// An IPv6 row lists its addresses as RFC 5952 writes them; selected, its hop limit and flow
// label take the boxes of TTL and checksum under their own labels, and an IPv4 row puts the
// IPv4 labels back.
TEST_F(PacketSnifferWindow, Ipv6RowsShowTheirAddressesAndTheirOwnFieldsInTwoBoxes) {
    auto window = open(&openQueuedSource);
    window->startCapture();
    test::TestDatagram segment;
    segment.sourcePort = 443;
    std::vector<std::uint8_t> ipv6 = test::asIpv6(segment, 0x10, 2);
    ipv6[3] = 0x2A;  // flow label 0x0002a
    queuedSource->push(ipv6);
    queuedSource->push(makeDatagram(6, 40, 80, 3000));
    ASSERT_TRUE(waitUntil([&] { return shownRows(*window).size() == 2; }));
    const auto rows = shownRows(*window);
    EXPECT_EQ(rows[0][0], "TCP");
    EXPECT_EQ(rows[0][2], "fd00::10");
    EXPECT_EQ(rows[0][3], "fd00::2");
    EXPECT_EQ(rows[0][4], "443");

    auto* ttl = controlById<QLineEdit>(*window, 1015);
    auto* ttlLabel = window->findChild<QLabel*>("ttlLabel");
    auto* checksumLabel = window->findChild<QLabel*>("ipChecksumLabel");
    ASSERT_TRUE(ttl && ttlLabel && checksumLabel);
    window->selectRow(0);
    ASSERT_TRUE(waitUntil([&] { return ttlLabel->text() == "Hop limit:"; }));
    EXPECT_EQ(checksumLabel->text(), "Flow label:");
    EXPECT_EQ(ttl->text(), "64");
    window->selectRow(1);
    ASSERT_TRUE(waitUntil([&] { return ttlLabel->text() == "TTL:"; }));
    EXPECT_EQ(checksumLabel->text(), "IP checksum:");
    window->closeWindow();
}

TEST_F(PacketSnifferWindow, HostileDatagramsAreListedRenderedFoundSortedSavedAndLogged) {
    REQUIRE_ROOT();
    const auto log = dir.path() / "hostile.log";
    published.change([](SettingsRecord& settings) { settings.autoLog = 1; });
    published.change([](SettingsRecord& settings) { settings.logIntervalSeconds = 1; });
    published.change([](SettingsRecord& settings) { settings.logDataText = 1; });
    published.change(
        [&log](SettingsRecord& settings) { setTextField(settings.logFilePath, log.string()); });
    auto window = open();
    window->startCapture();
    auto* status = controlById<QLabel>(*window, 1004);
    ASSERT_TRUE(waitUntil([&] { return status->text() == "Listening on: 127.0.0.1"; }));
    const std::string needle = "end-of-the-largest";
    const auto sent = hostileDatagrams(needle);
    for (const auto& datagram : sent) {
        ASSERT_TRUE(injectLoopbackDatagram(datagram)) << datagram.size() << " bytes";
    }
    const int count = static_cast<int>(sent.size());
    ASSERT_TRUE(waitUntil([&] { return static_cast<int>(shownRows(*window).size()) == count; }));
    window->stopCapture();
    const std::vector<QStringList> rows = shownRows(*window);
    for (int row = 0; row < count; ++row) {
        EXPECT_EQ(rows[row][2], "10.9.9.9") << row;
    }
    EXPECT_EQ(rows.back()[1], "65535");

    // Each is rendered in the three forms; a packet found invalid is kept.
    auto* pane = controlById<QPlainTextEdit>(*window, 1020);
    auto* size = controlById<QLineEdit>(*window, 1008);
    for (int row = 0; row < count; ++row) {
        user.answers.push_back(MessageAnswer::No);
        window->selectRow(row);
        ASSERT_TRUE(waitUntil([&] {
            return size->text() == rows[row][1] || pane->toPlainText() == "Invalid packet data!";
        })) << row;
        for (int form : {1025, 1026, 1027}) {
            controlById<QRadioButton>(*window, form)->click();
            EXPECT_FALSE(pane->toPlainText().isEmpty()) << row << " in form " << form;
        }
    }
    EXPECT_EQ(window->model().rowCount(), count);

    controlById<QLineEdit>(*window, 1048)->setText(QString::fromStdString(needle));
    user.answers.push_back(MessageAnswer::No);
    window->selectRow(0);
    window->findOrNext();
    EXPECT_TRUE(waitUntil([&] { return window->selectionMark() == count - 1; }));
    window->finder().stopIfRunning();
    ASSERT_TRUE(waitUntil([&] { return !window->finder().searchRunning; }));
    for (int column = 0; column < PacketListColumnCount; ++column) {
        window->sortByColumn(column);
        window->sortByColumn(column);
    }
    EXPECT_EQ(window->model().rowCount(), count);

    const auto saved = dir.path() / "hostile.txt";
    user.pickedPaths = {QString::fromStdString(saved.string())};
    user.dialogHandlers.push_back(&saveDataInHex);
    window->saveList();
    ASSERT_TRUE(waitUntil([&] { return window->runningSaveThreads() == 0; }));
    ASSERT_TRUE(waitUntil([&] { return window->logger().loggedCount() == count; }, 4000));
    auto records = [](const std::string& text) {
        std::size_t found = 0;
        for (auto at = text.find("10.9.9.9"); at != std::string::npos;
             at = text.find("10.9.9.9", at + 1)) {
            ++found;
        }
        return static_cast<int>(found);
    };
    EXPECT_EQ(records(fileContents(saved)), count);
    EXPECT_EQ(records(fileContents(log)), count);
    for (const auto& box : user.shown) {
        EXPECT_EQ(box.message.caption, "Delete invalid packet?") << box.message.text;
    }
    window->closeWindow();
}

// A stored slot as the test compares it: its bytes and its arrival. Two captures of one frame
// may each read the clock for it, a microsecond apart.
struct StoredDatagram {
    std::string bytes;
    std::int64_t arrivalNanoseconds = 0;
    bool operator==(const StoredDatagram& other) const {
        return bytes == other.bytes &&
               std::abs(arrivalNanoseconds - other.arrivalNanoseconds) < 1'000'000;
    }
};

void PrintTo(const StoredDatagram& datagram, std::ostream* out) {
    *out << datagram.bytes.size() << " bytes at " << datagram.arrivalNanoseconds;
}

// The rows without their time texts, which follow the stamps to the millisecond.
std::vector<QStringList> untimedRows(std::vector<QStringList> rows) {
    for (QStringList& row : rows) {
        row.removeAt(static_cast<int>(PacketListColumn::DateTime));
    }
    return rows;
}

std::vector<StoredDatagram> storedDatagrams(const PacketStore& store) {
    std::vector<StoredDatagram> stored;
    for (std::int32_t slot = 0; slot < store.storedCount(); ++slot) {
        stored.push_back(
            {std::string(reinterpret_cast<const char*>(store.packet(slot)), store.length(slot)),
             store.arrivalNanoseconds(slot)});
    }
    return stored;
}

TEST_F(PacketSnifferWindow, CaptureFileByTcpdumpOpensAsTheLiveCaptureOfTheSameTrafficDid) {
    REQUIRE_ROOT();
    // tcpdump and the window see the same traffic side by side; in immediate mode tcpdump
    // takes each frame as it comes.
    const auto recorded = dir.path() / "loopback.pcap";
    const auto tcpdumpLog = dir.path() / "tcpdump.log";
    const std::string tcpdump =
        "tcpdump -i lo -Q in -n --immediate-mode -U --time-stamp-precision nano -w '" +
        recorded.string() + "' >/dev/null 2>'" + tcpdumpLog.string() + "' & echo $!";
    const int tcpdumpProcess = std::stoi(commandOutput(tcpdump));
    ASSERT_TRUE(waitUntil(
        [&] { return fileContents(tcpdumpLog).find("listening on") != std::string::npos; }, 5000));
    auto window = open();
    window->startCapture();
    auto* status = controlById<QLabel>(*window, 1004);
    ASSERT_TRUE(waitUntil([&] { return status->text() == "Listening on: 127.0.0.1"; }));
    ASSERT_TRUE(sendLoopbackUdp(40510, "first"));
    ASSERT_TRUE(exchangeLoopbackTcp(40511, "a short exchange"));
    ASSERT_TRUE(pingLoopback(7));
    ASSERT_TRUE(sendLoopbackUdp(40510, std::string(3000, 'f')));  // cut into fragments
    const std::vector<std::uint8_t> largest = hostileDatagrams("file-end").back();
    ASSERT_TRUE(injectLoopbackDatagram(largest));
    ASSERT_TRUE(waitUntil([&] {
        return window->table().storedCount() > 0 &&
               window->table().lock().store().length(window->table().storedCount() - 1) ==
                   largest.size();
    }));
    window->stopCapture();
    // tcpdump writes each frame as it goes (-U): once the last is in its file, so is the rest.
    const std::string lastBytes(largest.end() - 8, largest.end());
    ASSERT_TRUE(waitUntil(
        [&] { return fileContents(recorded).find(lastBytes) != std::string::npos; }, 5000));
    ::kill(tcpdumpProcess, SIGINT);
    ASSERT_TRUE(waitUntil([&] { return ::kill(tcpdumpProcess, 0) != 0; }, 5000));
    const std::vector<QStringList> liveRows = shownRows(*window);
    const std::vector<StoredDatagram> live = storedDatagrams(window->table().lock().store());
    ASSERT_GE(live.size(), 12u);

    // A damaged file is refused whole, before any question, and the list stays as it was.
    const std::string whole = fileContents(recorded);
    ASSERT_GT(whole.size(), 24u + 65535u);
    const auto damaged = dir.path() / "damaged.pcap";
    writeFileContents(damaged, whole.substr(0, whole.size() - 100));
    user.pickedPaths = {QString::fromStdString(damaged.string())};
    window->openCaptureFile();
    ASSERT_TRUE(waitUntil([&] { return !window->openingCaptureFile(); }));
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0].message.text, "Unable to read the capture file: " + damaged.string() +
                                              "\r\nThe file ends inside "
                                              "packet " +
                                              std::to_string(live.size()) + ".");
    EXPECT_EQ(storedDatagrams(window->table().lock().store()), live);
    EXPECT_EQ(untimedRows(shownRows(*window)), untimedRows(liveRows));

    // Declining the question keeps the list; accepting it replaces the list with the file's.
    user.pickedPaths = {QString::fromStdString(recorded.string())};
    user.answers = {MessageAnswer::No};
    window->openCaptureFile();
    ASSERT_TRUE(waitUntil([&] { return !window->openingCaptureFile(); }));
    ASSERT_EQ(user.shown.size(), 2u);
    EXPECT_EQ(user.shown[1].message.text, "The list holds " + std::to_string(live.size()) +
                                              " packets. Replace them with the packets of " +
                                              recorded.string() + "?");
    EXPECT_EQ(storedDatagrams(window->table().lock().store()), live);
    user.pickedPaths = {QString::fromStdString(recorded.string())};
    user.answers = {MessageAnswer::Yes};
    window->openCaptureFile();
    ASSERT_TRUE(waitUntil([&] { return !window->openingCaptureFile(); }));
    EXPECT_EQ(user.shown.size(), 3u);
    EXPECT_EQ(storedDatagrams(window->table().lock().store()), live);
    EXPECT_EQ(untimedRows(shownRows(*window)), untimedRows(liveRows));
    EXPECT_EQ(status->text().toStdString(),
              "Read " + std::to_string(live.size()) + " packets, skipped 0 that are not IP");
    EXPECT_FALSE(window->state().capturing);
    window->closeWindow();
}

TEST_F(PacketSnifferWindow, FullStoreAtStartStopsWithTheItemLimit) {
    auto window = open(&openQueuedSource);
    for (std::int32_t i = 0; i < PacketStoreCapacity; ++i) {
        CapturedPacket packet = CapturedPacket::copyOf(nullptr, 0);
        window->table().lock().store().append(packet, "");
    }
    window->startCapture();
    auto* status = controlById<QLabel>(*window, 1004);
    EXPECT_TRUE(waitUntil([&] { return status->text() == "Stopped/Item Limit Reached"; }));
    EXPECT_FALSE(window->state().capturing);
    window->closeWindow();
}

TEST_F(PacketSnifferWindow, MemoryStatusNamesDropsOnlyOnceThereAreSomeAndKeepsThemAfterStop) {
    auto window = open(&openQueuedSource);
    window->startCapture();
    auto* memory = controlById<QLabel>(*window, 1018);
    ASSERT_TRUE(waitUntil([&] { return memory->text().startsWith("Free physical RAM:"); }));
    EXPECT_EQ(memory->text().count('\n'), 1) << memory->text().toStdString();
    EXPECT_FALSE(memory->text().contains("Dropped"));

    queuedSource->dropped = 42;
    ASSERT_TRUE(waitUntil([&] { return memory->text().endsWith("\nDropped by the system: 42"); }))
        << memory->text().toStdString();
    QApplication::processEvents();
    EXPECT_GE(memory->height(), memory->sizeHint().height()) << "the third line is not cut off";
    // A later capture's drops add to those of the one that ended.
    window->stopCapture();
    window->startCapture();
    queuedSource->dropped = 8;
    EXPECT_TRUE(waitUntil([&] { return memory->text().endsWith("\nDropped by the system: 50"); }))
        << memory->text().toStdString();
    window->closeWindow();
}

TEST_F(PacketSnifferWindow, EscapeNeverClosesAndClosingSavesTheControls) {
    auto window = open(&openQueuedSource);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &escape);
    QApplication::processEvents();
    EXPECT_TRUE(window->isVisible());

    controlById<QLineEdit>(*window, 1048)->setText("needle");
    controlById<QCheckBox>(*window, 1047)->setChecked(true);
    controlById<QCheckBox>(*window, 1014)->setChecked(false);
    window->close();
    EXPECT_FALSE(window->isVisible());
    SettingsRecord saved;
    loadSettings(saved, settingsPath);
    EXPECT_EQ(textField(saved.findText), "needle");
    EXPECT_EQ(saved.matchCase, 1);
    EXPECT_EQ(saved.soundOnNewPacket, 0);
    EXPECT_EQ(saved.detailShowDec, 1);
}

TEST_F(PacketSnifferWindow, ColourSchemeFollowsTheSetting) {
    auto window = open(&openQueuedSource);
    auto* view = controlById<PacketListView>(*window, 1000);
    EXPECT_EQ(view->palette().color(QPalette::Base), QColor(70, 50, 50));
    EXPECT_EQ(view->palette().color(QPalette::Text), QColor(175, 255, 255));
    published.change([](SettingsRecord& settings) { settings.useWindowsColors = 1; });
    window->applyColourScheme();
    EXPECT_EQ(view->palette().color(QPalette::Base),
              QApplication::palette(view).color(QPalette::Base));
    window->closeWindow();
}

TEST_F(PacketSnifferWindow, ListGrowsWithTheWindowWhichNeverGetsSmallerThanAtOpening) {
    auto window = open(&openQueuedSource);
    ASSERT_TRUE(waitUntil([&] { return window->minimumSize() == window->size(); }, 2000));
    const QSize opened = window->size();
    auto* view = controlById<PacketListView>(*window, 1000);
    auto* startButton = controlById<QWidget>(*window, 1001);
    const int listHeight = view->height();
    const int buttonTop = startButton->y();
    window->resize(opened.width() + 100, opened.height() + 150);
    QApplication::processEvents();
    EXPECT_GT(view->height(), listHeight);
    EXPECT_GT(startButton->y(), buttonTop);
    EXPECT_GT(controlById<QWidget>(*window, 1020)->width(), 0);
    window->resize(opened.width() - 200, opened.height() - 200);
    QApplication::processEvents();
    EXPECT_GE(window->width(), opened.width());
    EXPECT_GE(window->height(), opened.height());
    window->closeWindow();
}

TEST_F(PacketSnifferWindow, GeneralSettingsApplyRepaintsInTheChosenColours) {
    auto window = open(&openQueuedSource);
    for (QAction* action : window->menuBar().findChildren<QAction*>()) {
        if (action->property("controlId").isValid()) {
            EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
        }
    }
    user.dialogHandlers.push_back([](QDialog& dialog) {
        controlById<QCheckBox>(dialog, 1126)->setChecked(true);  // "Use Windows colors"
        controlById<QPushButton>(dialog, 3)->click();            // Apply
        return QDialog::Rejected;
    });
    window->menuBar().findChild<QAction*>("command32789")->trigger();
    EXPECT_EQ(published.current().useWindowsColors, 1);
    auto* view = controlById<PacketListView>(*window, 1000);
    EXPECT_EQ(view->palette().color(QPalette::Base),
              QApplication::palette(view).color(QPalette::Base));
    window->closeWindow();
}

}  // namespace
}  // namespace qhs
