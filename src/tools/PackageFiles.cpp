// Writes the files an installed copy takes from the program itself, drawn or written by the
// program's own code: qhs_package_files <folder> makes
//   <folder>/icons/hicolor/<size>x<size>/apps/<name>.png for the hicolor sizes,
//   <folder>/icons/hicolor/scalable/apps/<name>.svg, and
//   <folder>/copyright, the end-user agreement in Debian's copyright format.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/Product.h"
#include "app/ProductArt.h"
#include "setup/AgreementText.h"

namespace {

const QString IconName = QStringLiteral("quillharbour-sniffer");

// Files drawn while Qt complained are not trusted: any warning fails the run.
int qtWarnings = 0;

void countQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    std::fprintf(stderr, "qhs_package_files: %s\n", qPrintable(message));
    if (type != QtDebugMsg && type != QtInfoMsg) {
        ++qtWarnings;
    }
}

bool writeFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(contents) != contents.size() || !file.flush()) {
        std::fprintf(stderr, "qhs_package_files: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// Each line of a field's continuation starts with a blank; an empty line is " .".
QByteArray copyrightText() {
    QByteArray text =
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
        "Upstream-Name: Quillharbour Sniffer\n"
        "Upstream-Contact: " +
        QByteArray(qhs::MakerSupportAddress.data(),
                   static_cast<qsizetype>(qhs::MakerSupportAddress.size())) +
        "\nSource: " +
        QByteArray(qhs::MakerWebSite.data(), static_cast<qsizetype>(qhs::MakerWebSite.size())) +
        "\n\nFiles: *\nCopyright: 2003 Quillharbour\nLicense: Quillharbour-Sniffer-EULA\n";
    // The agreement's rows, without the blank rows before and after its text.
    QByteArray license;
    for (const std::string_view row : qhs::agreementRows()) {
        const QByteArray line =
            QByteArray(row.data(), static_cast<qsizetype>(row.size())).trimmed();
        if (!line.isEmpty() || !license.isEmpty()) {
            license += (line.isEmpty() ? QByteArray(" .") : ' ' + line) + '\n';
        }
    }
    while (license.endsWith(" .\n")) {
        license.chop(3);
    }
    return text + license;
}

int writeFiles(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString hicolor = folder + QStringLiteral("/icons/hicolor/");
    bool ok = true;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString path =
            hicolor + QStringLiteral("%1x%1/apps/").arg(size) + IconName + QStringLiteral(".png");
        QDir().mkpath(QFileInfo(path).path());
        if (!qhs::applicationIconImage(size).save(path, "PNG")) {
            std::fprintf(stderr, "qhs_package_files: cannot write %s\n", qPrintable(path));
            ok = false;
        }
    }
    ok = writeFile(hicolor + QStringLiteral("scalable/apps/") + IconName + QStringLiteral(".svg"),
                   qhs::applicationIconSvg()) &&
         ok;
    ok = writeFile(folder + QStringLiteral("/copyright"), copyrightText()) && ok;
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: qhs_package_files <folder>\n", stderr);
        return 2;
    }
    // Drawn without a display, and without a session's runtime folder (Qt wants one, 0700).
    qputenv("QT_QPA_PLATFORM", "offscreen");
    char runtimeFolder[] = "/tmp/qhs-package-files-XXXXXX";
    if (::mkdtemp(runtimeFolder) == nullptr) {
        std::perror("qhs_package_files: mkdtemp");
        return 1;
    }
    qputenv("XDG_RUNTIME_DIR", runtimeFolder);
    qInstallMessageHandler(countQtMessage);
    const int result = writeFiles(argc, argv);
    std::error_code ignored;
    std::filesystem::remove_all(runtimeFolder, ignored);
    return qtWarnings > 0 ? 1 : result;
}
