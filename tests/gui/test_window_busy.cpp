// Form1 with other programs around: the hold on the lamp a run drives, and
// files a later start hands over while the window is busy.
#include <QtTest>

#include <QDialog>
#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "lamp/lamp_hold.h"
#include "sequence/sequence_files.h"
#include "support/fake_d2xx.h"
#include "support/fake_dialogs.h"
#include "support/grid_rows.h"
#include "support/main_window_fixture.h"
#include "support/test_files.h"
#include "ui/main_window.h"

using tintrava::LampHold;

namespace {

const QByteArray Handed = "\xEF\xBB\xBF" "FarbNr;Bezeichnung;Minuten\r\n5;Orange;10\r\n13;442 nm;5\r\n";
const QStringList HandedRows{Header, "5|Orange|10", "13|442 nm|5"};
const std::string InUse = "Die Lampe wird gerade von einem anderen Programm benutzt.";

} // namespace

class TestWindowBusy : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startRefusedWhileAnotherHoldsTheLamp();
    void runHoldsItsLampUntilItEnds();
    void lampFoundDuringTheRunHeldByAnother();
    void handedFileWaits_data();
    void handedFileWaits();
    void handedFilesInTurn();

private:
    TForm1 &form() { return *m_window.form; }
    FakeDialogs &dialogs() { return *m_window.dialogs; }
    QString path(const QString &name) const { return QDir(m_dir->path()).filePath(name); }
    // Advances the run's clock past the current step and lets it tick.
    void tick();
    // Lets the hand-over look at the window a few times.
    void letHandOverLook();

    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindowFixture m_window;
    double m_clock = 45000.5;
};

void TestWindowBusy::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The window's holds and the test's own in this test's folder.
    qputenv("TINTRAVA_LOCK_DIR", QFile::encodeName(m_dir->path()));
    auto &fake = tintrava::testing::fakeD2xx();
    fake.reset();
    fake.install();
    fake.responder = [](const std::string &) { return std::string("OK\r\n"); };
    m_window.open(m_dir->path(), "1\n");
    m_clock = 45000.5;
    form().hooks.now = [this] { return m_clock; };
    form().hooks.sleep = [](int) {};
}

void TestWindowBusy::cleanup()
{
    if (m_window.dialogs)
        QVERIFY2(m_window.dialogs->scriptDone(), "an expected answer was not used");
    m_window.close();
    m_dir.reset();
}

void TestWindowBusy::tick()
{
    m_clock += 2.0 / 86400;
    form().Timer1Timer();
}

void TestWindowBusy::letHandOverLook()
{
    QTimer *timer = form().findChild<QTimer *>(QStringLiteral("HandOverTimer"));
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QSignalSpy looked(timer, &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(looked.count() >= 3, 10000);
}

void TestWindowBusy::startRefusedWhileAnotherHoldsTheLamp()
{
    auto &fake = tintrava::testing::fakeD2xx();
    fake.devices = {{"Sela-Lumen", "VL1"}};
    LampHold other;
    QCOMPARE(other.take("VL1"), LampHold::Held);
    form().addcolor(1);
    fake.clearLog();

    QTest::mouseClick(form().Button5, Qt::LeftButton);
    QCOMPARE(dialogs().messages(), std::vector<std::string>{InUse});
    QVERIFY(!form().playing());
    QVERIFY(!form().Panel27->isVisible());
    QVERIFY(form().Button5->isEnabled());
    QCOMPARE(fake.opens, 0);

    // Another lamp is free.
    fake.devices = {{"Sela-Lumen", "VL2"}};
    dialogs().clear();
    QTest::mouseClick(form().Button5, Qt::LeftButton);
    QVERIFY(dialogs().shown().empty());
    QVERIFY(form().playing());
    QTest::mouseClick(form().Button4, Qt::LeftButton);
}

void TestWindowBusy::runHoldsItsLampUntilItEnds()
{
    auto &fake = tintrava::testing::fakeD2xx();
    fake.devices = {{"Sela-Lumen", "VL1"}};
    form().addcolor(1);
    QTest::mouseClick(form().Button5, Qt::LeftButton);
    QVERIFY(form().playing());
    LampHold other;
    QCOMPARE(other.take("VL1"), LampHold::HeldByOther);
    tick();
    QCOMPARE(other.take("VL1"), LampHold::HeldByOther);
    QVERIFY(!fake.writes.empty());

    fake.writes.clear();
    QTest::mouseClick(form().Button4, Qt::LeftButton);
    // Switched off while still held, then let go.
    QCOMPARE(fake.writes, std::vector<std::string>{"C000000\r\n"});
    QCOMPARE(other.take("VL1"), LampHold::Held);
    QVERIFY(dialogs().shown().empty());
}

// No lamp at the start: the run begins holding nothing. The lamp that turns
// up is another program's: nothing is sent to it, not even the off, and the
// run ends with the box.
void TestWindowBusy::lampFoundDuringTheRunHeldByAnother()
{
    auto &fake = tintrava::testing::fakeD2xx();
    form().addcolor(1);
    QTest::mouseClick(form().Button5, Qt::LeftButton);
    QVERIFY(form().playing());
    QVERIFY(!form().lampHold().holding());

    LampHold other;
    QCOMPARE(other.take("VL1"), LampHold::Held);
    fake.devices = {{"Sela-Lumen", "VL1"}};
    tick();
    QVERIFY(!form().playing());
    QVERIFY(!form().Panel27->isVisible());
    QVERIFY(form().Button5->isEnabled());
    QCOMPARE(fake.opens, 0);
    QTRY_COMPARE(dialogs().messages(), std::vector<std::string>{InUse});
    QCOMPARE(rowsOf(form().grid()), (QStringList{Header, "1|Rot|1"}));
}

void TestWindowBusy::handedFileWaits_data()
{
    QTest::addColumn<QString>("busyWith");
    QTest::newRow("a dialog") << "dialog";
    QTest::newRow("a sequence playing") << "playing";
}

// Nothing changes the grid under an open dialog or while a sequence plays;
// once the window is free the file is opened with the usual question.
void TestWindowBusy::handedFileWaits()
{
    QFETCH(QString, busyWith);
    writeFile(path("handed.tintrava"), Handed);
    form().addcolor(1);
    const QStringList before{Header, "1|Rot|1"};

    QDialog dialog(&form());
    if (busyWith == "dialog") {
        dialog.setModal(true);
        dialog.show();
        QTRY_COMPARE(QApplication::activeModalWidget(), &dialog);
    } else {
        QTest::mouseClick(form().Button5, Qt::LeftButton);
        QVERIFY(form().playing());
    }
    QVERIFY(form().busy());

    form().openHandedFile(path("handed.tintrava"));
    letHandOverLook();
    QCOMPARE(rowsOf(form().grid()), before);
    QCOMPARE(form().handedFilesWaiting(), 1);
    QVERIFY(dialogs().shown().empty());

    dialogs().answerQuestion(true);
    if (busyWith == "dialog")
        dialog.close();
    else
        QTest::mouseClick(form().Button4, Qt::LeftButton);
    QTRY_COMPARE(rowsOf(form().grid()), HandedRows);
    QCOMPARE(form().handedFilesWaiting(), 0);
    QCOMPARE(dialogs().ofKind(FakeDialogs::Box::Question).size(), size_t(1));
    QCOMPARE(dialogs().ofKind(FakeDialogs::Box::Question).at(0).text,
             std::string(tintrava::texts::ReplaceUnsaved));
}

// Several files wait in the order they came; "Nein" to the question keeps
// the grid and the next file still comes.
void TestWindowBusy::handedFilesInTurn()
{
    writeFile(path("a.tintrava"), "FarbNr;Bezeichnung;Minuten\r\n2;Grün;3\r\n");
    writeFile(path("b.tintrava"), Handed);
    form().addcolor(1);
    QDialog dialog(&form());
    dialog.setModal(true);
    dialog.show();
    QTRY_COMPARE(QApplication::activeModalWidget(), &dialog);
    form().openHandedFile(path("a.tintrava"));
    form().openHandedFile(path("b.tintrava"));
    letHandOverLook();
    QCOMPARE(form().handedFilesWaiting(), 2);

    dialogs().answerQuestion(false);
    dialogs().answerQuestion(true);
    dialog.close();
    QTRY_COMPARE(form().handedFilesWaiting(), 0);
    QCOMPARE(rowsOf(form().grid()), HandedRows);
    QCOMPARE(dialogs().ofKind(FakeDialogs::Box::Question).size(), size_t(2));
}

QTEST_MAIN(TestWindowBusy)
#include "test_window_busy.moc"
