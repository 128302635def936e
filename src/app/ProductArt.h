#pragma once

#include <QCursor>
#include <QIcon>
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
