#include "setup/SetupBackdrop.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>

#include "app/DialogService.h"
#include "app/ProductArt.h"
#include "setup/SetupNames.h"
#include "ui_SetupBackdrop.h"

namespace qhs {

namespace {

const QString InstallationText = QStringLiteral("Installation");

void reportNonFatal(QWidget* owner, int code) {
    dialogService().showMessage(
        owner, UserMessage{"Non-fatal internal error code: " + std::to_string(code) +
                           "\r\nSetup will continue"});
}

// Text placed by its top-left corner, as the title's positions are given.
void drawTextAt(QPainter& painter, int x, int y, const QString& text, const QColor& colour) {
    painter.setPen(colour);
    painter.drawText(QPoint(x, y + painter.fontMetrics().ascent()), text);
}

}  // namespace

SetupBackdrop::SetupBackdrop(std::function<void()> runInstaller, QSize screenSize, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint),
      ui_(std::make_unique<Ui::SetupBackdrop>()),
      runInstaller_(std::move(runInstaller)) {
    ui_->setupUi(this);
    setWindowIcon(applicationIcon());
    if (!screenSize.isValid()) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        screenSize = screen != nullptr ? screen->geometry().size() : QSize(800, 600);
    }
    move(0, 0);
    resize(screenSize);
    buildGradient(screenSize);

    textFont_.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Helvetica")});
    textFont_.setPointSize(24);
    if (ui_->gradientPicture != nullptr) {
        // The texts lie on a transparent layer over the picture, which would cover them.
        textLayer_ = new QWidget(ui_->gradientPicture);
        textLayer_->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* layout = new QGridLayout(ui_->gradientPicture);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(textLayer_);
        textLayer_->installEventFilter(this);
    }

    pulseTimer_.setInterval(30);
    connect(&pulseTimer_, &QTimer::timeout, this, &SetupBackdrop::advancePulse);
    installerWatch_.setInterval(10);
    connect(&installerWatch_, &QTimer::timeout, this, &SetupBackdrop::endWhenInstallerClosed);
    pulseTimer_.start();
    installerWatch_.start();
}

SetupBackdrop::~SetupBackdrop() = default;

QImage SetupBackdrop::gradientImage(QSize screenSize) {
    QImage image(screenSize, QImage::Format_RGB32);
    if (image.isNull()) {
        return image;
    }
    const int width = screenSize.width();
    const int height = screenSize.height();
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int greenBlue = static_cast<int>(static_cast<long long>(y) * 255 / height);
        for (int x = 0; x < width; ++x) {
            const int red = static_cast<int>(static_cast<long long>(x) * 255 / width);
            line[x] = qRgb(red, greenBlue, greenBlue);
        }
    }
    return image;
}

void SetupBackdrop::buildGradient(QSize screenSize) {
    if (ui_->gradientPicture == nullptr) {
        reportNonFatal(this, 0);
        return;
    }
    const QImage image = gradientImage(screenSize);
    if (image.isNull()) {
        reportNonFatal(this, 2);
        return;
    }
    const QPixmap pixmap = QPixmap::fromImage(image);
    if (pixmap.isNull()) {
        reportNonFatal(this, 1);
        return;
    }
    ui_->gradientPicture->setPixmap(pixmap);
}

void SetupBackdrop::advancePulse() {
    level_ += falling_ ? -4 : 4;
    if (level_ >= 250) {
        falling_ = true;
    }
    if (level_ <= 5) {
        falling_ = false;
    }
    pulseStarted_ = true;
    if (textLayer_ != nullptr) {
        textLayer_->update(titleArea());
    }
}

void SetupBackdrop::reject() {
    if (!installerRunning_) {
        QDialog::reject();
    }
}

void SetupBackdrop::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!installerStarted_) {
        QTimer::singleShot(0, this, &SetupBackdrop::runInstallerOnce);
    }
}

void SetupBackdrop::runInstallerOnce() {
    if (installerStarted_) {
        return;
    }
    installerStarted_ = true;
    if (runInstaller_) {
        runInstaller_();
    }
    installerRunning_ = false;
}

void SetupBackdrop::endWhenInstallerClosed() {
    if (installerRunning_) {
        return;
    }
    installerWatch_.stop();
    pulseTimer_.stop();
    accept();
}

bool SetupBackdrop::eventFilter(QObject* watched, QEvent* event) {
    if (watched == textLayer_ && event->type() == QEvent::Paint) {
        paintTexts(*textLayer_);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void SetupBackdrop::paintTexts(QWidget& layer) {
    QPainter painter(&layer);
    painter.setFont(textFont_);
    drawTextAt(painter, 68, 98, InstallationText, QColor(0, 255, 100));
    if (pulseStarted_) {
        const QString title =
            QString::fromLatin1(ProductTitle.data(), static_cast<qsizetype>(ProductTitle.size()));
        drawTextAt(painter, 50, 50, title, Qt::black);
        drawTextAt(painter, 48, 48, title, QColor(0, 255, level_));
    }
}

QRect SetupBackdrop::titleArea() const {
    const QFontMetrics metrics(textFont_);
    const QString title =
        QString::fromLatin1(ProductTitle.data(), static_cast<qsizetype>(ProductTitle.size()));
    return QRect(48, 48, metrics.horizontalAdvance(title) + 8, metrics.height() + 8);
}

}  // namespace qhs
