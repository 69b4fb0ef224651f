#include "ui/window_icon.h"

#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QPixmapCache>
#include <QWidget>

#include <cstring>

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

} // namespace

QIcon applicationIcon()
{
    QIcon icon;
    for (int i = 0; i < window_icon_pixels::imageCount; ++i) {
        const window_icon_pixels::Image &image = window_icon_pixels::images[i];
        // The pixels stay where they are: fromImage copies them into the pixmap.
        icon.addPixmap(QPixmap::fromImage(QImage(reinterpret_cast<const uchar *>(image.argb), image.side,
                                                 image.side, image.side * 4, QImage::Format_ARGB32)));
    }
    return icon;
}

void useApplicationIcon()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    QGuiApplication::setWindowIcon(applicationIcon());
}

void readStyleImagesAsPngWhenPainted(QWidget *groupBox)
{
    whenFirstPainted(groupBox, [] { readStyleImagesAsPng(); });
}

} // namespace tintrava
