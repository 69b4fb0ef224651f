// The main window's sequence files: the pop-up menu entries and shortcuts,
// the question before unsaved steps are replaced, error boxes, saving with
// the extension added and the question before replacing a file, everything
// off while a sequence plays, the last sequence kept on close, drag and drop
// and the file named on the command line.
#include <QtTest>

#include "support/test_files.h"

#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

#include "sequence/sequence_files.h"
#include "storage/sequence_storage.h"
#include "storage/settings_file.h"
#include "support/fake_d2xx.h"
#include "support/fake_dialogs.h"
#include "support/grid_rows.h"
#include "support/main_window_fixture.h"
#include "ui/main_window.h"

namespace {

const QByteArray OrangeAnd442 =
    "\xEF\xBB\xBF" "FarbNr;Bezeichnung;Minuten\r\n5;Orange;10\r\n13;442 nm;5\r\n";
const QStringList OrangeAnd442Rows{Header, "5|Orange|10", "13|442 nm|5"};


QStringList texts(const std::vector<FakeDialogs::Box> &boxes)
{
    QStringList out;
    for (const auto &b : boxes)
        out << QString::fromStdString(b.text);
    return out;
}

std::unique_ptr<QMimeData> urls(const QList<QUrl> &list)
{
    auto data = std::make_unique<QMimeData>();
    data->setUrls(list);
    return data;
}

} // namespace

class TestSequenceFiles : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void shortcutsOpenAndSave();
    void menuEntriesRun();
    void rightClickOnGridOpensMenu();
    void askBeforeReplacing_data();
    void askBeforeReplacing();
    void badFileLeavesGrid();
    void saveAddsExtensionAndAsksBeforeReplacing();
    void saveAsCsv();
    void failedSaveKeepsOldFile();
    void offWhilePlaying();
    void closeKeepsLastSequence_data();
    void closeKeepsLastSequence();
    void lastSequenceLoads();
    void drop_data();
    void drop();
    void fileFromCommandLine();
    void fileFromCommandLineNotAfterDeclinedCheck();

private:
    TForm1 &form() { return *m_window.form; }
    FakeDialogs &dialogs() { return *m_window.dialogs; }
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void addSteps()
    {
        QTest::mouseClick(form().Panel5, Qt::LeftButton);
        QTest::mouseClick(form().Panel6, Qt::LeftButton);
    }
    void keyClick(int key)
    {
        form().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form()));
        QTest::keyClick(form().StringGrid1, Qt::Key(key), Qt::ControlModifier);
    }
    // Whether the form takes the drag and the drop.
    bool dropOn(const QMimeData &data);

    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindowFixture m_window;
};

void TestSequenceFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    tintrava::testing::fakeD2xx().reset();
    tintrava::testing::fakeD2xx().install();
    m_window.open(m_dir->path(), "1\n");
}

void TestSequenceFiles::cleanup()
{
    if (m_window.dialogs)
        QVERIFY2(m_window.dialogs->scriptDone(), "an expected box or file dialog did not come");
    m_window.close();
    m_dir.reset();
}

void TestSequenceFiles::shortcutsOpenAndSave()
{
    writeFile(path("a.tintrava"), OrangeAnd442);
    dialogs().chooseFile(path("a.tintrava").toStdString());
    keyClick(Qt::Key_O);
    QCOMPARE(rowsOf(form().grid()), OrangeAnd442Rows);
    // As when the first step is appended.
    QCOMPARE(form().grid().fixedRows(), 1);
    QCOMPARE(form().grid().selectedRow(), 1);

    QTest::mouseClick(form().Button2, Qt::LeftButton); // Orange: 11 minutes
    dialogs().chooseFile(path("b").toStdString());
    keyClick(Qt::Key_S);
    QCOMPARE(fileContents(path("b.tintrava")),
             QByteArray("\xEF\xBB\xBF" "FarbNr;Bezeichnung;Minuten\r\n5;Orange;11\r\n13;442 nm;5\r\n"));

    const auto open = dialogs().ofKind(FakeDialogs::Box::OpenFile);
    const auto save = dialogs().ofKind(FakeDialogs::Box::SaveFile);
    QCOMPARE(open.size(), size_t(1));
    QCOMPARE(save.size(), size_t(1));
    QCOMPARE(open[0].caption, std::string("Abfolge öffnen"));
    QCOMPARE(save[0].caption, std::string("Abfolge speichern"));
    QCOMPARE(open[0].prompt,
             std::string("Tintrava-Abfolge (*.tintrava);;CSV (Semikolon) (*.csv);;Alle Dateien (*)"));
    QCOMPARE(save[0].prompt, std::string("Tintrava-Abfolge (*.tintrava);;CSV (Semikolon) (*.csv)"));
    QCOMPARE(save[0].filter, std::string("Tintrava-Abfolge (*.tintrava)"));
    // Saving starts at the file last opened.
    QCOMPARE(save[0].defaultText, path("a.tintrava").toStdString());
    QVERIFY(dialogs().errors().empty());
}

void TestSequenceFiles::menuEntriesRun()
{
    writeFile(path("a.csv"), OrangeAnd442);
    dialogs().chooseFile(path("a.csv").toStdString());
    form().AbfolgeOeffnen1->trigger();
    QCOMPARE(rowsOf(form().grid()), OrangeAnd442Rows);

    dialogs().chooseFile(path("copy.csv").toStdString());
    form().AbfolgeSpeichern1->trigger();
    QCOMPARE(fileContents(path("copy.csv")), OrangeAnd442);

    // Cancelled dialogs change nothing.
    dialogs().chooseFile("");
    form().AbfolgeOeffnen1->trigger();
    dialogs().chooseFile("");
    form().AbfolgeSpeichern1->trigger();
    QCOMPARE(rowsOf(form().grid()), OrangeAnd442Rows);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), (QStringList{"a.csv", "copy.csv", "my.conf"}));

    QCOMPARE(form().AbfolgeOeffnen1->shortcut(), QKeySequence("Ctrl+O"));
    QCOMPARE(form().AbfolgeSpeichern1->shortcut(), QKeySequence("Ctrl+S"));
}

void TestSequenceFiles::rightClickOnGridOpensMenu()
{
    addSteps();
    const QStringList before = rowsOf(form().grid());
    TStringGrid *grid = form().StringGrid1;
    const QPoint at = grid->viewport()->mapTo(&form(), QPoint(30, grid->rowViewportPosition(1) + 5));
    QTest::mouseClick(form().windowHandle(), Qt::RightButton, {}, at);
    QTRY_VERIFY(form().PopupMenu1->isVisible());
    // Where the pointer was.
    QVERIFY((form().PopupMenu1->pos() - form().mapToGlobal(at)).manhattanLength() < 5);
    form().PopupMenu1->hide();
    QCOMPARE(rowsOf(form().grid()), before);
}

void TestSequenceFiles::askBeforeReplacing_data()
{
    QTest::addColumn<QString>("before");    // what happens to the grid before opening
    QTest::addColumn<int>("asked");         // 0 no question, 1 answered "Ja", 2 answered "Nein"
    QTest::newRow("empty grid") << "" << 0;
    QTest::newRow("steps added, Ja") << "add" << 1;
    QTest::newRow("steps added, Nein") << "add" << 2;
    QTest::newRow("opened, unchanged") << "open" << 0;
    QTest::newRow("opened, minutes changed") << "open,plus" << 1;
    QTest::newRow("opened, step deleted") << "open,delete" << 2;
    QTest::newRow("changed and changed back") << "open,plus,minus" << 0;
    QTest::newRow("saved") << "add,save" << 0;
    QTest::newRow("saved, then a step added") << "add,save,add" << 2;
    QTest::newRow("all steps deleted") << "add,delete,delete" << 0;
}

void TestSequenceFiles::askBeforeReplacing()
{
    QFETCH(QString, before);
    QFETCH(int, asked);
    writeFile(path("first.tintrava"), "FarbNr;Bezeichnung;Minuten\n1;Rot;3\n2;Grün;4\n");
    writeFile(path("next.tintrava"), OrangeAnd442);
    for (const QString &step : before.split(',', Qt::SkipEmptyParts)) {
        if (step == "add") {
            addSteps();
        } else if (step == "open") {
            QVERIFY(form().openSequenceFile(path("first.tintrava")));
        } else if (step == "plus") {
            form().Button2Click();
        } else if (step == "minus") {
            form().Button3Click();
        } else if (step == "delete") {
            form().Button1Click();
        } else if (step == "save") {
            dialogs().chooseFile(path("saved.tintrava").toStdString());
            form().AbfolgeSpeichern1Click();
        }
    }
    const QStringList rowsBefore = rowsOf(form().grid());
    if (asked)
        dialogs().answerQuestion(asked == 1);
    const bool opened = form().openSequenceFile(path("next.tintrava"));

    const auto questions = dialogs().ofKind(FakeDialogs::Box::Question);
    QCOMPARE(questions.size(), size_t(asked ? 1 : 0));
    if (asked)
        QCOMPARE(questions[0].text, std::string("Die Abfolge in der Liste wurde nicht gespeichert. Trotzdem ersetzen?"));
    QCOMPARE(opened, asked != 2);
    QCOMPARE(rowsOf(form().grid()), asked == 2 ? rowsBefore : OrangeAnd442Rows);
}

void TestSequenceFiles::badFileLeavesGrid()
{
    addSteps();
    form().grid().setSelectedRow(2);
    const QStringList before = rowsOf(form().grid());
    writeFile(path("bad.tintrava"), "FarbNr;Bezeichnung;Minuten\r\n1;Rot;1\r\n2;Grün;1\r\n14;x;1\r\n");
    QVERIFY(!form().openSequenceFile(path("bad.tintrava")));
    // No question first: the file is refused before anything is replaced.
    QCOMPARE(texts(dialogs().shown()),
             QStringList{QString("Die Datei \u201E%1\u201C konnte nicht ge\u00F6ffnet werden: "
                                 "Zeile 4: unbekannte Farbnummer \u201E14\u201C")
                             .arg(QDir::toNativeSeparators(path("bad.tintrava")))});
    QCOMPARE(dialogs().errors().size(), size_t(1));
    QCOMPARE(rowsOf(form().grid()), before);
    QCOMPARE(form().grid().selectedRow(), 2);
}

void TestSequenceFiles::saveAddsExtensionAndAsksBeforeReplacing()
{
    addSteps();
    dialogs().chooseFile(path("abfolge").toStdString());
    form().AbfolgeSpeichern1Click();
    const QByteArray first = fileContents(path("abfolge.tintrava"));
    QVERIFY(first.endsWith("1;Rot;1\r\n2;Grün;1\r\n"));
    QVERIFY(dialogs().ofKind(FakeDialogs::Box::Question).empty());

    form().Button2Click();
    const std::string question = "Die Datei „" + path("abfolge.tintrava").toStdString() +
                                 "“ gibt es bereits. Soll sie ersetzt werden?";
    // "Nein": nothing written, and the steps still count as unsaved.
    dialogs().chooseFile(path("abfolge").toStdString());
    dialogs().answerQuestion(false);
    form().AbfolgeSpeichern1Click();
    QCOMPARE(fileContents(path("abfolge.tintrava")), first);
    QVERIFY(form().sequenceFiles().hasUnsavedSteps());
    // "Ja": replaced.
    dialogs().chooseFile(path("abfolge.tintrava").toStdString());
    dialogs().answerQuestion(true);
    form().AbfolgeSpeichern1Click();
    QVERIFY(fileContents(path("abfolge.tintrava")).endsWith("1;Rot;2\r\n2;Grün;1\r\n"));
    QVERIFY(!form().sequenceFiles().hasUnsavedSteps());
    QCOMPARE(texts(dialogs().ofKind(FakeDialogs::Box::Question)), (QStringList{QString::fromStdString(question),
                                                                              QString::fromStdString(question)}));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"abfolge.tintrava", "my.conf"}));
}

// The CSV filter gives a bare name ".csv" and the same content; a sequence
// from a ".csv" file is offered as CSV again.
void TestSequenceFiles::saveAsCsv()
{
    const std::string csv = "CSV (Semikolon) (*.csv)";
    const std::string tintrava = "Tintrava-Abfolge (*.tintrava)";
    addSteps();
    dialogs().chooseFile(path("abfolge").toStdString(), csv);
    form().AbfolgeSpeichern1Click();
    const QByteArray expected = "\xEF\xBB\xBF" "FarbNr;Bezeichnung;Minuten\r\n1;Rot;1\r\n2;Grün;1\r\n";
    QCOMPARE(fileContents(path("abfolge.csv")), expected);
    QVERIFY(!form().sequenceFiles().hasUnsavedSteps());

    // A name typed with its own extension keeps it, whatever the filter.
    dialogs().chooseFile(path("kopie.tintrava").toStdString());
    form().AbfolgeSpeichern1Click();
    QCOMPARE(fileContents(path("kopie.tintrava")), expected);

    writeFile(path("tabelle.CSV"), OrangeAnd442);
    QVERIFY(form().openSequenceFile(path("tabelle.CSV")));
    dialogs().chooseFile(path("neu").toStdString());
    form().AbfolgeSpeichern1Click();
    QCOMPARE(fileContents(path("neu.csv")), OrangeAnd442);

    const auto saves = dialogs().ofKind(FakeDialogs::Box::SaveFile);
    QCOMPARE(saves.size(), size_t(3));
    QCOMPARE(saves[0].filter, tintrava);
    QCOMPARE(saves[1].filter, csv);
    QCOMPARE(saves[2].filter, csv);
    QVERIFY(dialogs().errors().empty());
    QVERIFY(dialogs().ofKind(FakeDialogs::Box::Question).empty());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"abfolge.csv", "kopie.tintrava", "my.conf", "neu.csv", "tabelle.CSV"}));
}

void TestSequenceFiles::failedSaveKeepsOldFile()
{
#ifndef Q_OS_LINUX
    QSKIP("needs a file size limit");
#else
    writeFile(path("keep.tintrava"), OrangeAnd442);
    addSteps();
    dialogs().chooseFile(path("keep.tintrava").toStdString());
    dialogs().answerQuestion(true);

    struct rlimit old {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 1;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    form().AbfolgeSpeichern1Click();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    // The same error box as a failed save of "my.conf".
    QCOMPARE(dialogs().errors().size(), size_t(1));
    QVERIFY2(QString::fromStdString(dialogs().errors()[0])
                 .startsWith(QString("Die Datei \u201E%1\u201C konnte nicht geschrieben werden: ")
                                 .arg(QDir::toNativeSeparators(path("keep.tintrava")))),
             dialogs().errors()[0].c_str());
    QCOMPARE(fileContents(path("keep.tintrava")), OrangeAnd442);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"keep.tintrava", "my.conf"}));
    QVERIFY(form().sequenceFiles().hasUnsavedSteps());
#endif
}

void TestSequenceFiles::offWhilePlaying()
{
    auto &fake = tintrava::testing::fakeD2xx();
    fake.devices = {{"Sela-Lumen", "VL1"}};
    fake.responder = [](const std::string &) { return std::string("OK\r\n"); };
    form().hooks.sleep = [](int) {};
    writeFile(path("a.tintrava"), OrangeAnd442);
    addSteps();
    const QStringList before = rowsOf(form().grid());

    form().Button5Click();
    QVERIFY(form().playing());
    for (QAction *a : {form().AbfolgeOeffnen1, form().AbfolgeSpeichern1, form().LetzteAbfolgeLaden1})
        QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
    QVERIFY(form().Harwareanpassen1->isEnabled());
    // No file dialog is scripted: one coming up would fail the test.
    keyClick(Qt::Key_O);
    keyClick(Qt::Key_S);
    form().AbfolgeOeffnen1Click();
    form().AbfolgeSpeichern1Click();
    form().LetzteAbfolgeLaden1Click();
    QVERIFY(!form().openSequenceFile(path("a.tintrava")));
    QVERIFY(!dropOn(*urls({QUrl::fromLocalFile(path("a.tintrava"))})));
    QTest::qWait(50);
    QCOMPARE(rowsOf(form().grid()), before);
    QVERIFY(dialogs().shown().empty());

    form().Button4Click();
    for (QAction *a : {form().AbfolgeOeffnen1, form().AbfolgeSpeichern1, form().LetzteAbfolgeLaden1})
        QVERIFY2(a->isEnabled(), qPrintable(a->text()));
    dialogs().answerQuestion(true);
    QVERIFY(form().openSequenceFile(path("a.tintrava")));
    QCOMPARE(rowsOf(form().grid()), OrangeAnd442Rows);
}

void TestSequenceFiles::closeKeepsLastSequence_data()
{
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QString>("lastPathIs");  // "file", "folder", "missing folder", "read-only folder"
    QTest::addColumn<bool>("failureSaid");
    QTest::newRow("steps") << "steps" << "file" << false;
    QTest::newRow("empty grid writes nothing") << "" << "file" << false;
    QTest::newRow("write fails: said") << "steps" << "folder" << true;
    QTest::newRow("settings folder not made yet") << "steps" << "missing folder" << false;
    QTest::newRow("settings folder cannot be made: said") << "steps" << "blocked folder" << true;
}

void TestSequenceFiles::closeKeepsLastSequence()
{
    QFETCH(QString, grid);
    QFETCH(QString, lastPathIs);
    QFETCH(bool, failureSaid);
    const QString last = tintrava::lastSequenceFilePath();
    QCOMPARE(last, path("letzte-abfolge.tintrava"));
    writeFile(last, "old");
    if (lastPathIs == "folder") {
        QVERIFY(QFile::remove(last));
        QVERIFY(QDir(m_dir->path()).mkdir("letzte-abfolge.tintrava"));
    } else if (lastPathIs == "missing folder") {
        tintrava::setConfigDirectory(path("new/settings"));
    } else if (lastPathIs == "blocked folder") {
        writeFile(path("file"), "x");  // a file where a folder would have to be
        tintrava::setConfigDirectory(path("file/settings"));
    }
    if (grid == "steps")
        addSteps();

    QVERIFY(form().close());
    QVERIFY(!form().isVisible());
    if (failureSaid) {
        // An error box naming the file; the close goes on.
        QCOMPARE(dialogs().shown().size(), size_t(1));
        const std::string error = dialogs().errors().at(0);
        QVERIFY2(error.rfind(tintrava::texts::LastNotSaved, 0) == 0, error.c_str());
        QVERIFY2(error.find("letzte-abfolge.tintrava") != std::string::npos, error.c_str());
    } else {
        QVERIFY(dialogs().shown().empty());
    }
    if (lastPathIs == "folder")
        QVERIFY(QFileInfo(last).isDir());
    else if (lastPathIs == "blocked folder")
        QCOMPARE(fileContents(path("file")), QByteArray("x"));
    else if (grid == "steps")
        QCOMPARE(fileContents(lastPathIs == "missing folder" ? path("new/settings/letzte-abfolge.tintrava") : last),
                 QByteArray("\xEF\xBB\xBF" "FarbNr;Bezeichnung;Minuten\r\n1;Rot;1\r\n2;Grün;1\r\n"));
    else
        QCOMPARE(fileContents(last), QByteArray("old"));
}

void TestSequenceFiles::lastSequenceLoads()
{
    // None kept yet.
    form().LetzteAbfolgeLaden1->trigger();
    QCOMPARE(dialogs().messages(), std::vector<std::string>{"Es wurde noch keine letzte Abfolge gespeichert."});
    dialogs().clear();

    writeFile(tintrava::lastSequenceFilePath(), OrangeAnd442);
    form().LetzteAbfolgeLaden1->trigger();
    QCOMPARE(rowsOf(form().grid()), OrangeAnd442Rows);
    QVERIFY(dialogs().shown().empty());
    // Saving afterwards does not suggest the program's own copy.
    dialogs().chooseFile("");
    form().AbfolgeSpeichern1Click();
    QCOMPARE(dialogs().ofKind(FakeDialogs::Box::SaveFile).at(0).defaultText, std::string());
}

bool TestSequenceFiles::dropOn(const QMimeData &data)
{
    const QPoint at = form().StringGrid1->geometry().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QApplication::sendEvent(&form(), &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    QApplication::sendEvent(&form(), &drop);
    return drop.isAccepted();
}

void TestSequenceFiles::drop_data()
{
    QTest::addColumn<QStringList>("files");  // local files; "http:" for a remote one
    QTest::addColumn<bool>("taken");
    QTest::newRow("one file") << QStringList{"a.tintrava"} << true;
    QTest::newRow("a csv file") << QStringList{"a.csv"} << true;
    QTest::newRow("two files") << QStringList{"a.tintrava", "a.csv"} << false;
    QTest::newRow("remote") << QStringList{"http:"} << false;
    QTest::newRow("no file") << QStringList{} << false;
}

void TestSequenceFiles::drop()
{
    QFETCH(QStringList, files);
    QFETCH(bool, taken);
    writeFile(path("a.tintrava"), OrangeAnd442);
    writeFile(path("a.csv"), OrangeAnd442);
    QList<QUrl> list;
    for (const QString &f : files)
        list << (f == "http:" ? QUrl("http://example.invalid/a.tintrava") : QUrl::fromLocalFile(path(f)));
    QCOMPARE(dropOn(*urls(list)), taken);
    if (taken)
        QTRY_COMPARE(rowsOf(form().grid()), OrangeAnd442Rows);
    QTest::qWait(20);
    if (!taken)
        QCOMPARE(rowsOf(form().grid()), QStringList{Header});
    QVERIFY(dialogs().shown().empty());
}

void TestSequenceFiles::fileFromCommandLine()
{
    m_window.close();
    writeFile(path("my.conf"), "1\n");
    writeFile(path("a.tintrava"), OrangeAnd442);
    writeFile(path("bad.tintrava"), "FarbNr;Bezeichnung\n");
    tintrava::setConfigDirectory(m_dir->path());
    for (const QString &name : {"a.tintrava", "bad.tintrava"}) {
        FakeDialogs dialogs;
        TForm1 form;
        form.setDialogs(&dialogs);
        form.hooks.terminate = [] { QFAIL("terminated"); };
        form.openAfterStartupCheck(path(name));
        form.show();
        QTRY_VERIFY(form.startupCheckDone());
        if (name == "a.tintrava") {
            QCOMPARE(rowsOf(form.grid()), OrangeAnd442Rows);
            QVERIFY(dialogs.shown().empty());
        } else {
            QCOMPARE(rowsOf(form.grid()), QStringList{Header});
            QCOMPARE(dialogs.errors().size(), size_t(1));
            QVERIFY(QString::fromStdString(dialogs.errors()[0]).contains("konnte nicht ge\u00F6ffnet werden: Zeile 1:"));
        }
    }
    tintrava::setConfigDirectory(QString());
}

void TestSequenceFiles::fileFromCommandLineNotAfterDeclinedCheck()
{
    m_window.close();
    writeFile(path("a.tintrava"), OrangeAnd442);
    QVERIFY(QFile::remove(path("my.conf")));  // the check fails
    tintrava::setConfigDirectory(m_dir->path());
    FakeDialogs dialogs;
    TForm1 form;  // no hardware dialog: declined at once
    form.setDialogs(&dialogs);
    bool terminated = false;
    form.hooks.terminate = [&] { terminated = true; };
    form.openAfterStartupCheck(path("a.tintrava"));
    form.show();
    QTRY_VERIFY(form.startupCheckDone());
    QVERIFY(terminated);
    QCOMPARE(rowsOf(form.grid()), QStringList{Header});
    QCOMPARE(dialogs.shown().size(), size_t(1));
    tintrava::setConfigDirectory(QString());
}

QTEST_MAIN(TestSequenceFiles)
#include "test_sequence_files.moc"
