#pragma once
// The window icon: the sizes a task bar and a window switcher ask for, built
// into the program as pixels. Reading PNGs would decode 18 000 pixels at
// every start, and reading them through QIcon's file lookup would try every
// image format Qt has a plugin for (loading the GIF, ICO and JPEG plugins and
// libjpeg) and keep the 256 px size nobody needs at start.
#include <QIcon>

namespace tintrava {

QIcon applicationIcon();

// Qt's Fusion style draws a group box's frame from a PNG in Qt's resources,
// read by QPixmap::load, which asks every image format plugin (loading them
// all, and libjpeg with them) whether it knows the file. Read here as PNG
// and put in Qt's pixmap cache under the key QPixmap::load looks for first,
// it is taken from there. Should a Qt version make its key differently, the
// style reads the file itself as before: slower, never wrong.
void readStyleImagesAsPng();

} // namespace tintrava
