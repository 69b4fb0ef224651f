// The window icon at start: the two sizes a task bar and a window switcher
// use, the same pixels as the PNGs rendered from the icon's SVG, set without
// any of Qt's image format plugins, which a start that
// shows the main window (with Qt's Fusion style, as under the tests) does
// not load at all.
#include <QtTest>

#include <QFile>
#include <QImageReader>

#include "storage/settings_file.h"
#include "ui/fonts.h"
#include "ui/main_window.h"
#include "ui/window_icon.h"

namespace {

// The image format plugins this process has loaded.
QStringList loadedImagePlugins()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("<no /proc/self/maps>")};
    QStringList plugins;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const qsizetype at = line.indexOf("/imageformats/");
        if (at >= 0 && !plugins.contains(QString::fromUtf8(line.mid(at))))
            plugins << QString::fromUtf8(line.mid(at));
    }
    return plugins;
}

} // namespace

class TestWindowIcon : public QObject {
    Q_OBJECT
private slots:
    void sizesAtStart();
    void samePixelsAsRenderedPng_data();
    void samePixelsAsRenderedPng();
    void noImagePluginAtStart();
};

void TestWindowIcon::sizesAtStart()
{
    const QIcon icon = tintrava::applicationIcon();
    QCOMPARE(icon.availableSizes(), (QList<QSize>{QSize(48, 48), QSize(128, 128)}));
    // Drawn, not blank: the middle of the 48 px image is not transparent.
    const QImage image = icon.pixmap(QSize(48, 48)).toImage();
    QCOMPARE(image.size(), QSize(48, 48));
    QVERIFY(qAlpha(image.pixel(24, 24)) > 0);
}

void TestWindowIcon::samePixelsAsRenderedPng_data()
{
    QTest::addColumn<int>("side");
    QTest::newRow("48") << 48;
    QTest::newRow("128") << 128;
}

// The built-in pixels come from our own PNG reader at build time; Qt's reads
// the same file here. A mistake in unfiltering, channel order or alpha shows
// as a pixel that differs.
void TestWindowIcon::samePixelsAsRenderedPng()
{
    QFETCH(int, side);
    const QString png = QStringLiteral(TINTRAVA_WINDOW_ICON_PNG_DIR "/%1x%1/io.github.tintrava.Tintrava.png").arg(side);
    // Qt's built-in PNG reader only: asking the plugins would load them
    // before the next test looks for them.
    QImageReader reader(png, QByteArrayLiteral("png"));
    reader.setAutoDetectImageFormat(false);
    const QImage expected = reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QVERIFY2(!expected.isNull(), qPrintable(png + QLatin1String(": ") + reader.errorString()));
    const QImage actual =
        tintrava::applicationIcon().pixmap(QSize(side, side)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(actual.size(), expected.size());
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2): %3, the PNG has %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(actual.pixel(x, y), 8, 16, QLatin1Char('0'))
                                     .arg(expected.pixel(x, y), 8, 16, QLatin1Char('0'))));
}

void TestWindowIcon::noImagePluginAtStart()
{
#ifndef Q_OS_LINUX
    QSKIP("reads /proc/self/maps");
#endif
    QVERIFY2(loadedImagePlugins().isEmpty(), qPrintable(loadedImagePlugins().join('\n')));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile conf(dir.filePath(QStringLiteral("my.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("3\n");
    conf.close();
    tintrava::setConfigDirectory(dir.path());
    tintrava::setupFonts();
    TForm1 form;
    form.winId();
    tintrava::useApplicationIcon();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(form.startupCheckDone());
    QVERIFY2(loadedImagePlugins().isEmpty(), qPrintable(loadedImagePlugins().join('\n')));
    tintrava::setConfigDirectory(QString());
}

QTEST_MAIN(TestWindowIcon)
#include "test_window_icon.moc"
