#include "app/ProductArt.h"

#include <QEvent>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "app/DialogService.h"
#include "app/Product.h"

namespace qhs {

namespace {

const QColor LettersGround(64, 64, 64);

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

QPixmap productLettersPixmap(const QString& text, int pixelSize) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(pixelSize);
    const QFontMetrics metrics(font);
    const int margin = pixelSize / 3;
    QPixmap pixmap(metrics.horizontalAdvance(text) + 2 * margin, metrics.height() + margin);
    pixmap.fill(LettersGround);
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

QPixmap logoPixmap() {
    const QPixmap name = productLettersPixmap(
        QString::fromLatin1(ProductName.data(), static_cast<qsizetype>(ProductName.size())), 22);
    const QPixmap release = productLettersPixmap(
        QStringLiteral("v%1 (2003.Feb.09)")
            .arg(QString::fromLatin1(ProductVersion.data(),
                                     static_cast<qsizetype>(ProductVersion.size()))),
        13);
    // The name, and under it the release, right-aligned, on the letters' own ground.
    QPixmap banner(std::max(name.width(), release.width()), name.height() + release.height());
    banner.fill(LettersGround);
    QPainter painter(&banner);
    painter.drawPixmap(0, 0, name);
    painter.drawPixmap(banner.width() - release.width(), name.height(), release);
    return banner;
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

QPainterPath applicationIconLetter() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(19);
    QPainterPath letter;
    letter.addText(0, 0, font, QStringLiteral("Q"));
    // Centred on the letter's own outline, tail included, not on its line of text.
    const QPointF centre(ApplicationIconUnits / 2.0, ApplicationIconUnits / 2.0);
    return letter.translated(centre - letter.boundingRect().center());
}

QImage applicationIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(DarkListBackground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(static_cast<qreal>(size) / ApplicationIconUnits,
                  static_cast<qreal>(size) / ApplicationIconUnits);
    painter.fillPath(applicationIconLetter(), QColor(DarkListText));
    return image;
}

QByteArray applicationIconSvg() {
    const QPainterPath letter = applicationIconLetter();
    QByteArray outline;
    for (int i = 0; i < letter.elementCount(); ++i) {
        const QPainterPath::Element point = letter.elementAt(i);
        // A cubic curve is one CurveTo element followed by its two CurveToData elements.
        switch (point.type) {
            case QPainterPath::MoveToElement:
                outline += 'M';
                break;
            case QPainterPath::LineToElement:
                outline += 'L';
                break;
            case QPainterPath::CurveToElement:
                outline += 'C';
                break;
            case QPainterPath::CurveToDataElement:
                outline += ' ';
                break;
        }
        outline += QByteArray::number(point.x, 'f', 3) + ' ' + QByteArray::number(point.y, 'f', 3);
    }
    const QByteArray units = QByteArray::number(ApplicationIconUnits);
    const auto colour = [](QRgb rgb) { return QColor(rgb).name().toLatin1(); };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           units + "\" height=\"" + units + "\" viewBox=\"0 0 " + units + ' ' + units +
           "\">\n"
           "<rect width=\"" +
           units + "\" height=\"" + units + "\" fill=\"" + colour(DarkListBackground) +
           "\"/>\n"
           "<path fill=\"" +
           colour(DarkListText) + "\" fill-rule=\"" +
           (letter.fillRule() == Qt::WindingFill ? "nonzero" : "evenodd") + "\" d=\"" + outline +
           "\"/>\n"
           "</svg>\n";
}

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64}) {
        icon.addPixmap(QPixmap::fromImage(applicationIconImage(size)));
    }
    return icon;
}

QPixmap websiteButtonPixmap() {
    return productLettersPixmap(
        QString::fromLatin1(MakerHost.data(), static_cast<qsizetype>(MakerHost.size())), 30);
}

QPixmap emailButtonPixmap() {
    return productLettersPixmap(QStringLiteral("Email"), 24);
}

QPixmap versionCheckButtonPixmap() {
    return productLettersPixmap(QStringLiteral("Check for newer version"), 22);
}

void makeWebsiteLogo(QLabel& label) {
    label.setPixmap(logoPixmap());
    label.setCursor(Qt::PointingHandCursor);
    label.installEventFilter(new LogoClickFilter(&label));
}

}  // namespace qhs
