#include "app/ProductArt.h"

#include <QEvent>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "app/DialogService.h"
#include "app/Product.h"

namespace qhs {

namespace {

QPixmap buttonPixmap(const QColor& colour, void (*drawSymbol)(QPainter&)) {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    drawSymbol(painter);
    return pixmap;
}

QPixmap outlinedTextPixmap(const QString& text, int pixelSize) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(pixelSize);
    const QFontMetrics metrics(font);
    const int margin = pixelSize / 3;
    QPixmap pixmap(metrics.horizontalAdvance(text) + 2 * margin, metrics.height() + margin);
    pixmap.fill(QColor(64, 64, 64));
    QPainterPath path;
    path.addText(margin, margin / 2 + metrics.ascent(), font, text);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline first, so the fill keeps the letters' full width bright.
    painter.strokePath(path, QPen(QColor(40, 90, 255), pixelSize / 6.0, Qt::SolidLine, Qt::RoundCap,
                                  Qt::RoundJoin));
    painter.fillPath(path, QColor(90, 255, 255));
    return pixmap;
}

class LogoClickFilter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            dialogService().openAddress(QString::fromLatin1(
                MakerWebSite.data(), static_cast<qsizetype>(MakerWebSite.size())));
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

QPixmap logoPixmap() {
    QPixmap pixmap(260, 48);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 260, 0);
    background.setColorAt(0, QColor(40, 30, 60));
    background.setColorAt(1, QColor(70, 50, 50));
    painter.fillRect(pixmap.rect(), background);
    painter.setPen(QColor(175, 255, 255));
    QFont font = painter.font();
    font.setPointSize(15);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("Quillharbour Sniffer"));
    return pixmap;
}

QPixmap startButtonPixmap() {
    return buttonPixmap(QColor(20, 150, 40), [](QPainter& painter) {
        const QPointF triangle[3] = {{6, 3}, {21, 12}, {6, 21}};
        painter.drawPolygon(triangle, 3);
    });
}

QPixmap stopButtonPixmap() {
    return buttonPixmap(QColor(190, 30, 30),
                        [](QPainter& painter) { painter.drawRect(QRectF(5, 5, 14, 14)); });
}

QPixmap clearButtonPixmap() {
    return buttonPixmap(QColor(60, 60, 160), [](QPainter& painter) {
        painter.drawRect(QRectF(4, 5, 16, 3));
        painter.drawRect(QRectF(6, 9, 12, 12));
    });
}

QIcon applicationIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(QColor(70, 50, 50));
    QPainter painter(&pixmap);
    painter.setPen(QColor(175, 255, 255));
    QFont font = painter.font();
    font.setBold(true);
    font.setPointSize(14);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("Q"));
    return QIcon(pixmap);
}

QPixmap websiteButtonPixmap() {
    return outlinedTextPixmap(
        QString::fromLatin1(MakerHost.data(), static_cast<qsizetype>(MakerHost.size())), 30);
}

QPixmap emailButtonPixmap() {
    return outlinedTextPixmap(QStringLiteral("Email"), 24);
}

QPixmap versionCheckButtonPixmap() {
    return outlinedTextPixmap(QStringLiteral("Check for newer version"), 22);
}

void makeWebsiteLogo(QLabel& label) {
    label.setPixmap(logoPixmap());
    label.setCursor(Qt::PointingHandCursor);
    label.installEventFilter(new LogoClickFilter(&label));
}

}  // namespace qhs
