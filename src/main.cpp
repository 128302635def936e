#include <QApplication>
#include <string>
#include <vector>

#include "app/ProductArt.h"
#include "app/SnifferApp.h"
#include "filemode/FileSnifferDialog.h"
#include "packetmode/PacketSnifferDialog.h"
#include "platform/CaptureCapabilities.h"
#include "platform/ProcessFacts.h"
#include "platform/StandardInstallEnvironment.h"

int main(int argc, char** argv) {
    // Before any thread starts, so none begins with the capture capabilities in effect.
    qhs::lowerCaptureCapabilities();
    QApplication application(argc, argv);
    QApplication::setWindowIcon(qhs::applicationIcon());

    std::vector<std::string> arguments(argv + 1, argv + argc);
    qhs::ModeWindows windows;
    windows.packetSniffer = &qhs::PacketSnifferDialog::run;
    windows.fileSniffer = &qhs::FileSnifferDialog::run;
    const qhs::StandardInstallEnvironment setup;
    qhs::SnifferApp app(qhs::settingsFilePath(qhs::executablePath()), windows, setup.environment());
    return app.run(arguments);
}
