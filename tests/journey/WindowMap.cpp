// Tells the journey tests where a window's controls are, as the program lays them out on the
// same display: builds the window off screen at the size the running program's window has,
// and prints each control that carries a controlId with its rectangle in the window.
//
//   journey_window_map controls <window> <width> <height>
//       one line per visible control: "<controlId> <objectName> <x> <y> <width> <height>"
//       then one per menu command: "menu <menu title> <position> <objectName>"
//   journey_window_map screenshot <file.png>
//       saves a picture of the whole screen
//
// <window> is mode-choice, packet-sniffer, filter-setup or file-sniffer.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/ModeChoiceDialog.h"
#include "app/PublishedSettings.h"
#include "filemode/FileSnifferDialog.h"
#include "packetmode/FilterSetupDialog.h"
#include "packetmode/PacketSnifferDialog.h"
#include "platform/LinuxServices.h"

namespace {

// The one place that builds the program's windows, with the settings of a first start.
std::unique_ptr<QDialog> buildWindow(const std::string& name, qhs::PublishedSettings& settings,
                                     const std::string& settingsPath) {
    if (name == "mode-choice") {
        return std::make_unique<qhs::ModeChoiceDialog>(settings);
    }
    if (name == "packet-sniffer") {
        return std::make_unique<qhs::PacketSnifferDialog>(settings, settingsPath,
                                                          qhs::linuxServices());
    }
    if (name == "filter-setup") {
        return std::make_unique<qhs::FilterSetupDialog>(settings, nullptr);
    }
    if (name == "file-sniffer") {
        return std::make_unique<qhs::FileSnifferDialog>(settings, settingsPath,
                                                        qhs::linuxServices());
    }
    return nullptr;
}

int printControls(const std::string& name, int width, int height) {
    qhs::PublishedSettings settings;
    // Nothing is written there: the windows save their settings only when they close.
    const std::string settingsPath =
        (std::filesystem::temp_directory_path() / "journey-window-map.QHS").string();
    std::unique_ptr<QDialog> window = buildWindow(name, settings, settingsPath);
    if (!window) {
        std::fprintf(stderr, "unknown window \"%s\"\n", name.c_str());
        return 2;
    }
    window->setAttribute(Qt::WA_DontShowOnScreen);
    window->resize(width, height);
    window->show();
    QApplication::processEvents();
    for (const QWidget* control : window->findChildren<QWidget*>()) {
        const QVariant id = control->property("controlId");
        if (!id.isValid() || !control->isVisibleTo(window.get())) {
            continue;
        }
        const QPoint at = control->mapTo(window.get(), QPoint(0, 0));
        std::printf("%d %s %d %d %d %d\n", id.toInt(), qPrintable(control->objectName()), at.x(),
                    at.y(), control->width(), control->height());
    }
    if (const auto* bar = window->findChild<QMenuBar*>()) {
        for (const QAction* heading : bar->actions()) {
            if (heading->menu() == nullptr) {
                continue;
            }
            QString title = heading->text();
            title.remove(QLatin1Char('&'));
            int position = 0;
            for (const QAction* command : heading->menu()->actions()) {
                if (!command->isSeparator()) {
                    std::printf("menu %s %d %s\n", qPrintable(title), position++,
                                qPrintable(command->objectName()));
                }
            }
        }
    }
    window->hide();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "controls" && argc == 5) {
        return printControls(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    }
    if (command == "screenshot" && argc == 3) {
        return QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(argv[2]))
                   ? 0
                   : 1;
    }
    std::fprintf(stderr, "usage: %s controls <window> <width> <height> | %s screenshot <file>\n",
                 argv[0], argv[0]);
    return 2;
}
