#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>

class QLabel;

namespace qhs {

// The program's own images, drawn rather than shipped as files.
QPixmap logoPixmap();
QPixmap startButtonPixmap();
QPixmap stopButtonPixmap();
QPixmap clearButtonPixmap();
QIcon applicationIcon();

// Makes a label act as the logo: the hand cursor over it, and a click opens the maker's
// web site through the dialog service.
void makeWebsiteLogo(QLabel& label);

}  // namespace qhs
