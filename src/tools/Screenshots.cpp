// Renders each window of the program offscreen into PNG files, for reviewing the layout
// without a display: qhs_screenshots <folder>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPushButton>
#include <QThread>
#include <cstdio>
#include <memory>

#include "app/GeneralSettingsDialog.h"
#include "app/ModeChoiceDialog.h"
#include "app/ProductArt.h"
#include "capture/InterfaceDialog.h"
#include "capture/SyntheticCaptureSource.h"
#include "filemode/FileSegmentFilter.h"
#include "filemode/FileSnifferDialog.h"
#include "info/AboutDialog.h"
#include "info/HelpDialog.h"
#include "packetmode/FilterSetupDialog.h"
#include "packetmode/PacketListModel.h"
#include "packetmode/PacketListView.h"
#include "packetmode/PacketSnifferDialog.h"
#include "packetmode/SavingOptionsDialog.h"
#include "platform/LinuxServices.h"
#include "setup/AgreementDialog.h"
#include "setup/InstallerDialog.h"
#include "setup/SetupBackdrop.h"
#include "setup/UninstallerDialog.h"

namespace {

constexpr int SyntheticRows = 300;

// The Linux services, with a synthetic capture of `rows` datagrams in place of a live one.
qhs::SystemServices syntheticServices(int rows) {
    qhs::SystemServices services = qhs::linuxServices();
    services.captureSource = [rows] {
        return std::unique_ptr<qhs::CaptureSource>(
            std::make_unique<qhs::SyntheticCaptureSource>(rows));
    };
    return services;
}

bool save(QWidget& window, const QDir& folder, const QString& name) {
    window.show();
    QApplication::processEvents();
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    const bool saved = window.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

void waitFor(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

bool packetSnifferWindow(const QDir& folder, bool windowsColours) {
    qhs::SettingsRecord settings = qhs::defaultSettings();
    qhs::setTextField(settings.interfaceAddress, "192.168.1.20");
    settings.useWindowsColors = windowsColours ? 1 : 0;
    const std::string settingsPath =
        folder.filePath(QStringLiteral("screenshots.QHS")).toStdString();
    qhs::PublishedSettings published(settings);
    qhs::PacketSnifferDialog window(published, settingsPath, syntheticServices(SyntheticRows));
    if (!window.initialize()) {
        return false;
    }
    window.resize(1000, 720);
    window.show();
    window.startCapture();
    waitFor([&] { return window.table().storedCount() >= SyntheticRows; });
    waitFor([&] {
        window.synchronizeList();
        return window.model().rowCount() >= SyntheticRows;
    });
    window.findChild<qhs::PacketListView*>(QStringLiteral("packetList"))->selectRow(0);
    const bool saved = save(window, folder,
                            windowsColours ? QStringLiteral("packet-sniffer-system-colours")
                                           : QStringLiteral("packet-sniffer-dark"));
    window.closeWindow();
    QFile::remove(QString::fromStdString(settingsPath));
    return saved;
}

// The full-screen backdrop with the installer in front of it, as the user sees them
// together, after the title has pulsed for a while.
bool setupBackdrop(const QDir& folder) {
    const qhs::InstallEnvironment unused;
    bool saved = false;
    qhs::SetupBackdrop* shown = nullptr;
    qhs::SetupBackdrop backdrop(
        [&] {
            qhs::InstallerDialog installer(unused);
            installer.show();
            QElapsedTimer timer;
            timer.start();
            waitFor([&] { return timer.elapsed() > 700; });
            QPixmap screen = shown->grab();
            const QPixmap dialog = installer.grab();
            QPainter painter(&screen);
            painter.drawPixmap((screen.width() - dialog.width()) / 2,
                               (screen.height() - dialog.height()) / 2, dialog);
            painter.end();
            const QString path = folder.filePath(QStringLiteral("setup-backdrop.png"));
            saved = screen.save(path);
            std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
        },
        QSize(1024, 640));
    shown = &backdrop;
    backdrop.exec();
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder for the PNG files>\n", argv[0]);
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot make %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    qhs::SettingsRecord settings = qhs::defaultSettings();
    {
        qhs::PublishedSettings dialogSettings(settings);
        qhs::ModeChoiceDialog dialog(dialogSettings);
        ok = save(dialog, folder, QStringLiteral("mode-choice")) && ok;
    }
    {
        qhs::PublishedSettings dialogSettings(settings);
        qhs::InterfaceDialog dialog(dialogSettings, {"127.0.0.1", "10.0.0.5", "192.168.1.20"});
        ok = save(dialog, folder, QStringLiteral("interface")) && ok;
    }
    {
        qhs::SettingsRecord fileSettings = qhs::defaultSettings();
        qhs::setTextField(fileSettings.interfaceAddress, "192.168.1.20");
        qhs::PublishedSettings published(fileSettings);
        qhs::FileSnifferDialog window(published, "/dev/null", syntheticServices(0));
        ok = window.initialize() && save(window, folder, QStringLiteral("file-sniffer")) && ok;
    }
    for (const bool windowsColours : {false, true}) {
        qhs::SettingsRecord aboutSettings = qhs::defaultSettings();
        aboutSettings.useWindowsColors = windowsColours ? 1 : 0;
        qhs::AboutDialog dialog(aboutSettings, qhs::linuxServices().makeTcpClient);
        ok = save(dialog, folder,
                  windowsColours ? QStringLiteral("about-system-colours")
                                 : QStringLiteral("about-dark")) &&
             ok;
    }
    {
        qhs::HelpDialog dialog;
        ok = save(dialog, folder, QStringLiteral("help")) && ok;
        // The longest answer, to see that it fits the panel.
        dialog.findChild<QPushButton*>(QStringLiteral("introFileMode"))->click();
        ok = save(dialog, folder, QStringLiteral("help-file-mode")) && ok;
    }
    {
        qhs::SettingsRecord savingSettings = qhs::defaultSettings();
        savingSettings.saveIncludeData = 1;
        savingSettings.saveDataHex = 1;
        qhs::PublishedSettings dialogSettings(savingSettings);
        qhs::SavingOptionsDialog dialog(dialogSettings);
        ok = save(dialog, folder, QStringLiteral("saving-options")) && ok;
    }
    {
        qhs::SettingsRecord filterSettings = qhs::defaultSettings();
        filterSettings.filterSourceIps[0] = qhs::filterAddress("192.168.1.20");
        filterSettings.filterSourceIps[1] = qhs::filterAddress("10.0.0.5");
        filterSettings.filterDestIpsNot[0] = qhs::filterAddress("224.0.0.251");
        filterSettings.filterDestPorts[0] = 80;
        filterSettings.filterDestPorts[1] = 8080;
        filterSettings.filterAllowOther = 0;
        qhs::setTextField(filterSettings.filterContains1, "GET");
        qhs::setTextField(filterSettings.filterResolverHost, "www.example.com");
        qhs::PublishedSettings dialogSettings(filterSettings);
        qhs::FilterSetupDialog dialog(dialogSettings, nullptr, qhs::linuxServices().lookups);
        ok = save(dialog, folder, QStringLiteral("filter-setup")) && ok;
    }
    {
        qhs::SettingsRecord generalSettings = qhs::defaultSettings();
        generalSettings.autoLog = 1;
        generalSettings.logDataHex = 1;
        qhs::setTextField(generalSettings.logFilePath, "/var/log/quillharbour/packets.txt");
        qhs::PublishedSettings dialogSettings(generalSettings);
        qhs::GeneralSettingsDialog dialog(dialogSettings, nullptr,
                                          qhs::linuxServices().makeSoundPlayer());
        ok = save(dialog, folder, QStringLiteral("general-settings")) && ok;
    }
    {
        qhs::AgreementDialog dialog;
        dialog.resize(760, 460);
        ok = save(dialog, folder, QStringLiteral("agreement")) && ok;
    }
    {
        const qhs::InstallEnvironment unused;
        qhs::InstallerDialog installer(unused);
        ok = save(installer, folder, QStringLiteral("installer")) && ok;
        qhs::UninstallerDialog uninstaller(unused);
        ok = save(uninstaller, folder, QStringLiteral("uninstaller")) && ok;
    }
    ok = setupBackdrop(folder) && ok;
    ok = packetSnifferWindow(folder, false) && ok;
    ok = packetSnifferWindow(folder, true) && ok;
    return ok ? 0 : 1;
}
