#include <unistd.h>
#include <QApplication>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ProductArt.h"
#include "app/SnifferApp.h"
#include "filemode/FileSnifferDialog.h"
#include "packetmode/PacketSnifferDialog.h"
#include "platform/CaptureCapabilities.h"
#include "platform/DisplayProbe.h"
#include "platform/LinuxServices.h"
#include "platform/NetworkInterfaces.h"
#include "platform/PcapFrameFilter.h"
#include "platform/ProcessFacts.h"
#include "platform/StandardInstallEnvironment.h"
#include "platform/StopSignals.h"
#include "platform/UserFolders.h"
#include "setup/SetupSteps.h"
#include "sniff/HeadlessSniffer.h"

namespace {

// Sniffing from a terminal: no window, no display, no QApplication.
int runFromCommandLine(const std::vector<std::string>& arguments) {
    qhs::blockStopSignals();
    // A reader of standard output that leaves (head, less) gives a write error the run ends
    // on cleanly, instead of killing it before its files are complete.
    std::signal(SIGPIPE, SIG_IGN);
    const qhs::SniffParse parsed = qhs::parseSniffOptions({arguments.begin() + 1, arguments.end()});
    if (!parsed.options) {
        std::fprintf(stderr, "QuillharbourSnifferV1.5: %s\n", parsed.error.c_str());
        return 2;
    }
    qhs::SniffServices services;
    services.system = qhs::linuxServices();
    services.watchForStop = &qhs::watchForStop;
    services.dropPrivileges = &qhs::dropPrivileges;
    services.standardOutputIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    services.compileFilter = &qhs::compilePcapFilter;
    services.listInterfaces = &qhs::localInterfaces;
    const qhs::SettingsLocation settings =
        parsed.options->settingsFile.empty()
            ? qhs::settingsLocation(qhs::executablePath(), false)
            : qhs::SettingsLocation{parsed.options->settingsFile, {}, 0600};
    return qhs::runHeadlessSniff(*parsed.options, settings, services, stdout, stderr);
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread starts, so none begins with the capture capabilities in effect.
    qhs::lowerCaptureCapabilities();
    if (const std::vector<std::string> given(argv + 1, argv + argc); qhs::isSniffCommand(given)) {
        return runFromCommandLine(given);
    }

    qhs::clearCodePathsFromEnvironment();
    std::optional<qhs::DisplayProbe> display(std::in_place);
    if (!display->displayAvailable()) {
        // Without a display Qt would abort; say why, or give the help that was asked for.
        if (qhs::asksForHelpWithoutDisplay(
                qhs::commandLineText(std::vector<std::string>(argv + 1, argv + argc)))) {
            std::fputs(qhs::terminalHelpText().c_str(), stdout);
            return 0;
        }
        std::fprintf(stderr, "QuillharbourSnifferV1.5: %s\n", qhs::NoDisplayText);
        return -1;
    }
    QApplication application(argc, argv);
    display.reset();
    QApplication::setWindowIcon(qhs::applicationIcon());
    // Read after Qt has taken its own options out.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const qhs::SystemServices services = qhs::linuxServices();
    qhs::ModeWindows windows;
    windows.packetSniffer = [&services](qhs::PublishedSettings& settings,
                                        const std::string& settingsPath) {
        return qhs::PacketSnifferDialog::run(settings, settingsPath, services);
    };
    windows.fileSniffer = [&services](qhs::PublishedSettings& settings,
                                      const std::string& settingsPath) {
        return qhs::FileSnifferDialog::run(settings, settingsPath, services);
    };
    const qhs::StandardInstallEnvironment setup;
    qhs::SnifferApp app(qhs::settingsLocation(qhs::executablePath(), true), windows,
                        qhs::setupSteps(setup.environment()), qhs::downloadFolder());
    return app.run(arguments);
}
