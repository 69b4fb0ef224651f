#include <QtTest>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "tools/virtual-lamp/viewer/lamp_view.h"

using namespace tintrava;

namespace {

QByteArray writeLine(const QByteArray &serial, const QByteArray &fw, const QByteArray &heard, const QByteArray &colour)
{
    return "t=100.125\tpid=42\tcall=FT_Write\tserial=" + serial + "\tdesc=Sela-Lumen\tfw=" + fw
        + "\targs=count=9 line=115200/8/2/0\tstatus=FT_OK\tresult=written=9\tdata=-\theard=" + heard
        + "\tcolour=" + colour + "\n";
}

const QByteArray NothingListed = "t=101.000\tpid=42\tcall=FT_ListDevices\tserial=-\tdesc=-\tfw=-"
                                 "\targs=flags=NUMBER_ONLY\tstatus=FT_OK\tresult=count=0\tdata=-\theard=-\tcolour=-\n";

// Generous: the window polls every 100 ms, but a loaded machine may be slow.
constexpr int Patience = 20000;

} // namespace

// The window follows the trace file on its own timer and paints each lamp's
// disc in the colour the trace gives it.
class TestLampView : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    void append(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    static QColor discCentre(LampView &view, int index)
    {
        const QImage image = view.grab().toImage();
        return image.pixelColor(view.discRect(index).center());
    }

private slots:
    void discFollowsTheTrace()
    {
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("trace.log");
        LampView view(path); // the trace does not exist yet
        view.resize(900, 420);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(view.trace().lamps().empty());

        append(path, writeLine("VL000001", "text", "C:FF7D00", "FF7D00"));
        QTRY_COMPARE_WITH_TIMEOUT(view.trace().lamps().size(), std::size_t(1), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(discCentre(view, 0), QColor(0xFF, 0x7D, 0x00), Patience);

        // A byte lamp switched off, and half a line of the next colour.
        const QByteArray next = writeLine("VL000001", "text", "C:0000FF", "0000FF");
        append(path, writeLine("VB000002", "byte", "colour:11", "11") + next.left(40));
        QTRY_COMPARE_WITH_TIMEOUT(view.trace().lamps().size(), std::size_t(2), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(discCentre(view, 1), QColor(0, 0, 0), Patience);
        QCOMPARE(discCentre(view, 0), QColor(0xFF, 0x7D, 0x00));
        append(path, next.mid(40));
        QTRY_COMPARE_WITH_TIMEOUT(discCentre(view, 0), QColor(0, 0, 0xFF), Patience);

        // Unplugged lamps fade but keep their colour.
        append(path, NothingListed);
        QTRY_VERIFY_WITH_TIMEOUT(!view.trace().lamps().front().attached, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(discCentre(view, 0) != QColor(0, 0, 0xFF), Patience);
        const QColor faded = discCentre(view, 0);
        QVERIFY2(faded.blue() > faded.red() && faded.blue() > faded.green(), qPrintable(faded.name()));

        // A new trace starts from nothing.
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.close();
        QTRY_VERIFY_WITH_TIMEOUT(view.trace().lamps().empty(), Patience);
    }
};

QTEST_MAIN(TestLampView)
#include "test_lamp_view.moc"
