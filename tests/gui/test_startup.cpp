// The start-up check: reading "my.conf", forcing the hardware dialog when it
// holds no valid choice, and ending the program when the user declines.
#include <QtTest>

#include "support/test_files.h"

#include <QPushButton>
#include <QRadioButton>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "ui/fonts.h"
#include "ui/hardware_dialog.h"
#include "storage/settings_file.h"
#include "lamp/lampstate.h"
#include "support/fake_dialogs.h"
#include "support/modal_poller.h"
#include "ui/main_window.h"

namespace {


QStringList isForm2(QWidget *w)
{
    return qobject_cast<TForm2 *>(w) ? QStringList() : QStringList{"not Form2 but " + ModalPoller::describe(w)};
}

// The end of the error box of a save that failed while no choice is stored.
const QString AskedAgain = QString::fromUtf8(
    "Die Auswahl konnte nicht dauerhaft gespeichert werden und gilt nur, bis die Software beendet wird. "
    "Beim nächsten Start wird erneut nach der Hardware gefragt.");
const char *const ClosingMessage = "Ohne Auswahl einer Hardware kann die Software nicht verwendet werden. "
                                   "Die Software wird deshalb geschlossen.";

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { tintrava::setupFonts(); }
    void init();
    void cleanup();
    void ladeeinstellungen_data();
    void ladeeinstellungen();
    void missingFileLeavesHardwareRow();
    void unreadableFile_data();
    void unreadableFile();
    void startupCheck_data();
    void startupCheck();
    void checkRunsOncePerRun();
    void declineWithRealBoxes();
    void readErrorWithRealBox();
    void hardwareMenuReopensDialog();
    void dialogMadeWhenFirstShown();
    void dialogMadeForTheStartupCheck();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString confPath() const { return m_dir->filePath("my.conf"); }
};

void TestStartup::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    tintrava::setConfigDirectory(m_dir->path());
    tintrava::HardwareRow = -1;
}

void TestStartup::cleanup()
{
    tintrava::setConfigDirectory(QString());
    m_dir.reset();
}

void TestStartup::ladeeinstellungen_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("row");
    QTest::newRow("3") << QByteArray("3\n") << true << 3;
    QTest::newRow("0 is a valid row") << QByteArray("0\n") << true << 0;
    QTest::newRow("4") << QByteArray("4\n") << true << 4;
    QTest::newRow("no line end") << QByteArray("2") << true << 2;
    QTest::newRow("windows line end") << QByteArray("1\r\n") << true << 1;
    QTest::newRow("leading blanks") << QByteArray("   3\n") << true << 3;
    QTest::newRow("plus sign") << QByteArray("+3\n") << true << 3;
    QTest::newRow("hex") << QByteArray("$3\n") << true << 3;
    QTest::newRow("several lines, first counts") << QByteArray("2\n4\nabc\n") << true << 2;
    QTest::newRow("valid first line of a huge file") << QByteArray("1\n") + QByteArray(8 << 20, 'x') << true << 1;
    QTest::newRow("5 is out of range") << QByteArray("5\n") << false << 5;
    QTest::newRow("-1") << QByteArray("-1\n") << false << -1;
    QTest::newRow("large") << QByteArray("2147483647\n") << false << 2147483647;
    QTest::newRow("empty file") << QByteArray() << false << -1;
    QTest::newRow("empty first line") << QByteArray("\n3\n") << false << -1;
    QTest::newRow("trailing blank") << QByteArray("3 \n") << false << -1;
    QTest::newRow("letters") << QByteArray("Säule\n") << false << -1;
    QTest::newRow("binary") << QByteArray("\x00\x01\xfe\xff""3", 5) << false << -1;
    QTest::newRow("NUL after the digit") << QByteArray("3\x00\n", 3) << false << -1;
    QTest::newRow("huge single line") << QByteArray(8 << 20, '7') << false << -1;
    QTest::newRow("huge line of blanks before a digit") << QByteArray(8192, ' ') + "3\n" << false << -1;
}

void TestStartup::ladeeinstellungen()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, valid);
    QFETCH(int, row);
    writeFile(confPath(), content);

    FakeDialogs dialogs;
    TForm1 form;
    form.setDialogs(&dialogs);
    QCOMPARE(form.ladeeinstellungen(), valid);
    QCOMPARE(tintrava::HardwareRow, row);
    QVERIFY(dialogs.shown().empty());
    QCOMPARE(fileContents(confPath()).size(), content.size());
}

void TestStartup::missingFileLeavesHardwareRow()
{
    tintrava::HardwareRow = 2;
    FakeDialogs dialogs;
    TForm1 form;
    form.setDialogs(&dialogs);
    QVERIFY(!form.ladeeinstellungen());
    QCOMPARE(tintrava::HardwareRow, 2);
    QVERIFY(dialogs.shown().empty());
}

void TestStartup::unreadableFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder") << "folder";
#ifdef Q_OS_UNIX
    // Opening a pipe for reading would wait for a writer for ever.
    QTest::newRow("named pipe") << "fifo";
#endif
}

void TestStartup::unreadableFile()
{
    QFETCH(QString, kind);
    if (kind == "folder") {
        QVERIFY(QDir(m_dir->path()).mkdir("my.conf"));
    } else {
#ifdef Q_OS_UNIX
        QCOMPARE(mkfifo(QFile::encodeName(confPath()).constData(), 0600), 0);
#endif
    }
    FakeDialogs dialogs;
    TForm1 form;
    form.setDialogs(&dialogs);
    QVERIFY(!form.ladeeinstellungen());
    QCOMPARE(tintrava::HardwareRow, -1);
    QCOMPARE(dialogs.errors().size(), size_t(1));
    const QString error = QString::fromStdString(dialogs.errors()[0]);
    const QString start = QString("Die Datei \u201E%1\u201C konnte nicht gelesen werden: ").arg(QDir::toNativeSeparators(confPath()));
    QVERIFY2(error.startsWith(start) && error.size() > start.size() + 2, qPrintable(error));
    QVERIFY(dialogs.messages().empty());
}

void TestStartup::startupCheck_data()
{
    QTest::addColumn<QString>("file");      // "missing", "folder", "fifo" or the contents
    QTest::addColumn<QString>("answer");    // "" no dialog expected, "save N", "cancel", "close"
    QTest::addColumn<bool>("terminated");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("fileAfter"); // contents afterwards, "folder", "fifo" or "missing"
    QTest::addColumn<int>("errors");

    QTest::newRow("valid file: no dialog") << "3\n" << "" << false << 3 << "3\n" << 0;
    QTest::newRow("0 is valid") << "0\n" << "" << false << 0 << "0\n" << 0;
    QTest::newRow("missing, first model saved") << "missing" << "save 0" << false << 1 << "1\n" << 0;
    QTest::newRow("missing, last model saved") << "missing" << "save 3" << false << 4 << "4\n" << 0;
    QTest::newRow("5, saved") << "5\n" << "save 1" << false << 2 << "2\n" << 0;
    QTest::newRow("missing, declined") << "missing" << "cancel" << true << -1 << "missing" << 0;
    QTest::newRow("-1, declined") << "-1\n" << "cancel" << true << -1 << "-1\n" << 0;
    QTest::newRow("5, declined") << "5\n" << "cancel" << true << 5 << "5\n" << 0;
    QTest::newRow("empty, window closed") << "" << "close" << true << -1 << "" << 0;
    QTest::newRow("'3 ', declined") << "3 \n" << "cancel" << true << -1 << "3 \n" << 0;
    // A file that cannot be read shows its error, then asks like an invalid one:
    // no lamp model is ever used that nobody chose.
    QTest::newRow("unreadable folder: error, declined") << "folder" << "cancel" << true << -1 << "folder" << 1;
    QTest::newRow("unreadable folder: error, window closed") << "folder" << "close" << true << -1 << "folder" << 1;
    // The save fails for the same reason: the model chosen serves this run,
    // and the second error box says it will be asked for again.
    QTest::newRow("unreadable folder: error, save fails, runs") << "folder" << "save 2" << false << 3 << "folder" << 2;
#ifdef Q_OS_UNIX
    QTest::newRow("unreadable pipe: error, declined") << "fifo" << "cancel" << true << -1 << "fifo" << 1;
    QTest::newRow("unreadable pipe: error, saved") << "fifo" << "save 2" << false << 3 << "3\n" << 1;
#endif
}

void TestStartup::startupCheck()
{
    QFETCH(QString, file);
    QFETCH(QString, answer);
    QFETCH(bool, terminated);
    QFETCH(int, row);
    QFETCH(QString, fileAfter);
    QFETCH(int, errors);

    if (file == "folder")
        QVERIFY(QDir(m_dir->path()).mkdir("my.conf"));
#ifdef Q_OS_UNIX
    else if (file == "fifo")
        QCOMPARE(mkfifo(QFile::encodeName(confPath()).constData(), 0600), 0);
#endif
    else if (file != "missing")
        writeFile(confPath(), file.toUtf8());

    ModalPoller poller;
    if (!answer.isEmpty()) {
        poller.expect("Form2", isForm2, [answer](QWidget *w) {
            auto *f = static_cast<TForm2 *>(w);
            if (answer.startsWith("save ")) {
                f->RadioGroup1Buttons[answer.mid(5).toInt()]->click();
                QTest::mouseClick(f->Button1, Qt::LeftButton);
            } else if (answer == "close") {
                f->close();
            } else {
                QTest::mouseClick(f->Button2, Qt::LeftButton);
            }
        });
    }

    FakeDialogs dialogs;
    TForm1 form;
    TForm2 form2;
    form.setForm2(&form2);
    form.setDialogs(&dialogs);
    form2.setDialogs(&dialogs);
    int terminations = 0;
    form.hooks.terminate = [&] { ++terminations; };
    QVERIFY(!form.startupCheckDone());
    form.show();
    QTRY_VERIFY(form.startupCheckDone());
    QVERIFY2(poller.finish(), qPrintable(poller.report()));

    QCOMPARE(terminations, terminated ? 1 : 0);
    QCOMPARE(dialogs.messages(), terminated ? std::vector<std::string>{ClosingMessage} : std::vector<std::string>{});
    QCOMPARE(int(dialogs.errors().size()), errors);
    if (errors == 2)
        QVERIFY2(QString::fromStdString(dialogs.errors()[1]).endsWith(AskedAgain), dialogs.errors()[1].c_str());
    QCOMPARE(tintrava::HardwareRow, row);
    if (fileAfter == "folder")
        QVERIFY(QFileInfo(confPath()).isDir());
    else if (fileAfter == "fifo")
        QVERIFY(!QFileInfo(confPath()).isFile() && QFileInfo::exists(confPath()));
    else if (fileAfter == "missing")
        QVERIFY(!QFileInfo::exists(confPath()));
    else
        QCOMPARE(fileContents(confPath()), fileAfter.toUtf8());
}

void TestStartup::checkRunsOncePerRun()
{
    writeFile(confPath(), "3\n");
    FakeDialogs dialogs;
    TForm1 form;
    TForm2 form2;
    form.setForm2(&form2);
    form.setDialogs(&dialogs);
    form.hooks.terminate = [] { QFAIL("terminated"); };
    form.show();
    QTRY_VERIFY(form.startupCheckDone());
    QCOMPARE(tintrava::HardwareRow, 3);

    // A changed file has no effect until the next start, whatever the window does.
    writeFile(confPath(), "7\n");
    ModalPoller poller; // no box may come up
    form.hide();
    form.show();
    QApplication::setActiveWindow(&form);
    form.activateWindow();
    QTest::qWait(100);
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(tintrava::HardwareRow, 3);
    QVERIFY(dialogs.shown().empty());
}

void TestStartup::declineWithRealBoxes()
{
    TForm1 form;
    TForm2 form2;
    form.setForm2(&form2);
    int terminations = 0;
    form.hooks.terminate = [&] { ++terminations; };

    ModalPoller poller;
    poller.expect("Form2", isForm2, [](QWidget *w) { QTest::mouseClick(static_cast<TForm2 *>(w)->Button2, Qt::LeftButton); });
    poller.expectMessage(ClosingMessage);
    form.show();
    QTRY_VERIFY(form.startupCheckDone());
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(terminations, 1);
}

// The real boxes in their order: the read error, the hardware dialog, and
// after declining it the closing message.
void TestStartup::readErrorWithRealBox()
{
    QVERIFY(QDir(m_dir->path()).mkdir("my.conf"));
    TForm1 form;
    TForm2 form2;
    form.setForm2(&form2);
    int terminations = 0;
    form.hooks.terminate = [&] { ++terminations; };

    ModalPoller poller;
    poller.expectError(QString("Die Datei \u201E%1\u201C konnte nicht gelesen werden: ").arg(QDir::toNativeSeparators(confPath())));
    poller.expect("Form2", isForm2, [](QWidget *w) { QTest::mouseClick(static_cast<TForm2 *>(w)->Button2, Qt::LeftButton); });
    poller.expectMessage(ClosingMessage);
    form.show();
    QTRY_VERIFY(form.startupCheckDone());
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(terminations, 1);
    QCOMPARE(tintrava::HardwareRow, -1);
}

// "Harware anpassen": no selection at first even though the file holds a
// choice; saving rewrites the file and the row at once, cancelling keeps them.
void TestStartup::hardwareMenuReopensDialog()
{
    writeFile(confPath(), "2\n");
    FakeDialogs dialogs;
    TForm1 form;
    TForm2 form2;
    form.setForm2(&form2);
    form.setDialogs(&dialogs);
    form.show();
    QTRY_VERIFY(form.startupCheckDone());
    QCOMPARE(tintrava::HardwareRow, 2);

    bool noSelection = false, saveDisabled = false;
    ModalPoller poller;
    poller.expect("Form2 first", isForm2, [&](QWidget *w) {
        auto *f = static_cast<TForm2 *>(w);
        noSelection = f->itemIndex() == -1;
        saveDisabled = !f->Button1->isEnabled();
        QTest::mouseClick(f->Button2, Qt::LeftButton);
    });
    poller.expect("Form2 second", isForm2, [&](QWidget *w) {
        auto *f = static_cast<TForm2 *>(w);
        f->RadioGroup1Buttons[3]->click();
        QTest::mouseClick(f->Button1, Qt::LeftButton);
    });
    form.Harwareanpassen1->trigger();
    QCOMPARE(tintrava::HardwareRow, 2);
    QCOMPARE(fileContents(confPath()), QByteArray("2\n"));
    form.Harwareanpassen1->trigger();
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QVERIFY(noSelection);
    QVERIFY(saveDisabled);
    QCOMPARE(tintrava::HardwareRow, 4);
    QCOMPARE(fileContents(confPath()), QByteArray("4\n"));
    QVERIFY(dialogs.shown().empty());
}

namespace {
int hardwareDialogs()
{
    int count = 0;
    for (QWidget *w : QApplication::allWidgets())
        count += qobject_cast<TForm2 *>(w) != nullptr;
    return count;
}
} // namespace

// The program's own window makes the dialog only when it is shown, and then
// keeps it: the second opening shows the choice the first one left.
void TestStartup::dialogMadeWhenFirstShown()
{
    writeFile(confPath(), "2\n");
    {
        TForm1 form;
        form.makeForm2WhenShown();
        form.show();
        QTRY_VERIFY(form.startupCheckDone());
        QCOMPARE(tintrava::HardwareRow, 2);
        QCOMPARE(hardwareDialogs(), 0);

        QPointer<QWidget> first;
        int indexAtSecond = -2;
        ModalPoller poller;
        poller.expect("Form2 first", isForm2, [&](QWidget *w) {
            first = w;
            static_cast<TForm2 *>(w)->RadioGroup1Buttons[1]->click();
            QTest::mouseClick(static_cast<TForm2 *>(w)->Button2, Qt::LeftButton);
        });
        poller.expect("Form2 second", isForm2, [&](QWidget *w) {
            indexAtSecond = w == first ? static_cast<TForm2 *>(w)->itemIndex() : -3;
            QTest::mouseClick(static_cast<TForm2 *>(w)->Button2, Qt::LeftButton);
        });
        form.Harwareanpassen1->trigger();
        QCOMPARE(hardwareDialogs(), 1);
        form.Harwareanpassen1->trigger();
        QVERIFY2(poller.finish(), qPrintable(poller.report()));
        QCOMPARE(indexAtSecond, 1);
        QCOMPARE(hardwareDialogs(), 1);
        QCOMPARE(fileContents(confPath()), QByteArray("2\n"));
    }
    // It ends with the window.
    QCOMPARE(hardwareDialogs(), 0);
}

void TestStartup::dialogMadeForTheStartupCheck()
{
    TForm1 form;
    form.makeForm2WhenShown();
    form.hooks.terminate = [] { QFAIL("terminated"); };
    ModalPoller poller;
    poller.expect("Form2", isForm2, [](QWidget *w) {
        auto *f = static_cast<TForm2 *>(w);
        f->RadioGroup1Buttons[0]->click();
        QTest::mouseClick(f->Button1, Qt::LeftButton);
    });
    form.show();
    QTRY_VERIFY(form.startupCheckDone());
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(tintrava::HardwareRow, 1);
    QCOMPARE(fileContents(confPath()), QByteArray("1\n"));
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
