#include "ui/window_icon.h"

#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QPixmapCache>
#include <QWidget>

#include <cstdlib>
#include <cstring>

// Windows builds have no X; elsewhere Qt says whether it speaks X at all.
#if !defined(_WIN32)
#if QT_CONFIG(xcb)
#define TINTRAVA_X11_ICON 1
#include <xcb/xcb.h>
#endif
#endif

#include "ui/first_paint_probe.h"
#include "ui/window_icon_pixels.h"

namespace tintrava {

namespace {

QImage readPng(const QString &path)
{
    QImageReader reader(path, QByteArrayLiteral("png"));
    // Only the PNG reader Qt has built in; no asking the plugins.
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// A value as QPixmap::load writes it into its cache keys: its bytes in
// memory order, each as two hexadecimal digits, the low one first.
template <typename T>
QString keyHex(T value)
{
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof bytes);
    QString text;
    for (unsigned char byte : bytes) {
        text += QLatin1Char("0123456789abcdef"[byte & 0xF]);
        text += QLatin1Char("0123456789abcdef"[byte >> 4]);
    }
    return text;
}

void readStyleImagesAsPng()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const QFileInfo info(QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png"));
    if (!info.exists())
        return;
    const QImage image = readPng(info.filePath());
    if (image.isNull())
        return;
    // The key of a pixmap read from a file by a QPixmap that had none
    // before (pixel type 0, QPlatformPixmap::PixmapType).
    const QString key = QLatin1String("qt_pixmap") + info.absoluteFilePath()
        + keyHex(uint(info.lastModified().toSecsSinceEpoch())) + keyHex(quint64(info.size())) + keyHex(uint(0));
    QPixmapCache::insert(key, QPixmap::fromImage(image));
}

#if defined(TINTRAVA_X11_ICON)
// Qt would turn the icon's pixmaps back into pixels and copy them twice more
// before they reach the X server (about 220 KiB of fresh memory, 55 page
// faults, at every start); the built-in array already is the property.
bool writeX11Icon(QWidget *window)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    const xcb_window_t id = xcb_window_t(window->internalWinId());
    if (!connection || id == 0)
        return false;
    // In 4-byte units, the request's own six included.
    if (window_icon_pixels::netWmIconLength + 6 > xcb_get_maximum_request_length(connection))
        return false;
    static const char name[] = "_NET_WM_ICON";
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    if (!reply)
        return false;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom, XCB_ATOM_CARDINAL, 32,
                        uint32_t(window_icon_pixels::netWmIconLength), window_icon_pixels::netWmIcon);
    xcb_flush(connection);
    return true;
}
#endif

} // namespace

QIcon applicationIcon()
{
    QIcon icon;
    for (int i = 0; i < window_icon_pixels::imageCount; ++i) {
        const window_icon_pixels::Image &image = window_icon_pixels::images[i];
        // As they are: converted to the premultiplied format painting likes,
        // they would be copied, and turned back for the window system.
        icon.addPixmap(QPixmap::fromImage(QImage(reinterpret_cast<const uchar *>(image.argb), image.side,
                                                 image.side, image.side * 4, QImage::Format_ARGB32),
                                          Qt::NoFormatConversion));
    }
    return icon;
}

void useApplicationIcon(QWidget *mainWindow)
{
    static bool done = false;
    if (done)
        return;
    done = true;
#if defined(TINTRAVA_X11_ICON)
    // Written here, the window is one Qt leaves alone when the application's
    // icon is set below (as it would had it an icon of its own).
    if (mainWindow && writeX11Icon(mainWindow))
        mainWindow->setAttribute(Qt::WA_SetWindowIcon);
#else
    Q_UNUSED(mainWindow);
#endif
    QGuiApplication::setWindowIcon(applicationIcon());
}

void readStyleImagesAsPngWhenPainted(QWidget *groupBox)
{
    whenFirstPainted(groupBox, [] { readStyleImagesAsPng(); });
}

} // namespace tintrava
