#pragma once

#include <QByteArray>
#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QPixmap>
#include <QRgb>

class QLabel;

namespace qhs {

// The program's own images, drawn rather than shipped as files.
// The product banner: the name, and under it the release "v1.5 (2003.Feb.09)", in the
// product's lettering.
QPixmap logoPixmap();
QPixmap startButtonPixmap();
QPixmap stopButtonPixmap();
QPixmap clearButtonPixmap();

// The program's icon: a bold "Q" in the lists' light cyan on their dark ground. The letter's
// outline lies on a square of ApplicationIconUnits, so every size and the SVG share one shape.
inline constexpr int ApplicationIconUnits = 32;
QPainterPath applicationIconLetter();
// The icon as an image of `size` by `size` pixels; an image, not a pixmap, so any thread may
// draw it.
QImage applicationIconImage(int size);
// The icon as an SVG document, the letter an outline, so showing it needs no font.
QByteArray applicationIconSvg();
// The icon in the sizes of the window title, the task bar and the desktop.
QIcon applicationIcon();

// A text in the lettering of the product's images: bright cyan letters of `pixelSize`
// pixels, outlined in blue, on a dark grey ground with a margin.
QPixmap productLettersPixmap(const QString& text, int pixelSize);

// The About dialog's image buttons: the maker's web address, "Email" and "Check for newer
// version" in the product's lettering.
QPixmap websiteButtonPixmap();
QPixmap emailButtonPixmap();
QPixmap versionCheckButtonPixmap();

// The dark scheme of the program's lists, used unless the user asks for the system colours.
inline constexpr QRgb DarkListBackground = qRgb(70, 50, 50);
inline constexpr QRgb DarkListText = qRgb(175, 255, 255);

// Makes a label act as the logo: the hand cursor over it, and a click opens the maker's
// web site through the dialog service.
void makeWebsiteLogo(QLabel& label);

}  // namespace qhs
