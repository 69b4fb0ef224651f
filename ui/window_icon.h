#pragma once
// The window icon: the sizes a task bar and a window switcher ask for, built
// into the program as pixels. Reading PNGs would decode 18 000 pixels at
// every start, and reading them through QIcon's file lookup would try every
// image format Qt has a plugin for (loading the GIF, ICO and JPEG plugins and
// libjpeg) and keep the 256 px size nobody needs at start.
#include <QIcon>

class QWidget;

namespace tintrava {

QIcon applicationIcon();

// Gives the program's windows their icon, once; later calls do nothing.
// Qt sends an application icon twice to a window made after it was set (its
// pixels converted and 74 KiB written to the X server each time), once to a
// window that already exists: so the main window is made first and the icon
// set before it shows. On X, mainWindow (made, not yet shown) gets the
// built-in pixels written as they are instead. A box or dialog that may come
// before calls this too, without a window.
void useApplicationIcon(QWidget *mainWindow = nullptr);

// Qt's Fusion style draws a group box's frame from a PNG in Qt's resources,
// read by QPixmap::load, which asks every image format plugin (loading them
// all, and libjpeg with them) whether it knows the file. Read here as PNG
// when the group box first paints, just before the style draws its frame
// (the style reads it no sooner, and a window shows without waiting for
// it), and put in Qt's pixmap cache under the key QPixmap::load looks for
// first, it is taken from there. Once per program. Should a Qt version make
// its key differently, the style reads the file itself as before: slower,
// never wrong.
void readStyleImagesAsPngWhenPainted(QWidget *groupBox);

} // namespace tintrava
