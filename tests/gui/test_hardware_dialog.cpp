// Form2, the hardware dialog, shown modally and answered like a user would.
#include <QtTest>

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

#include "ui/fonts.h"
#include "ui/hardware_dialog.h"
#include "storage/settings_file.h"
#include "lamp/lampstate.h"
#include "support/fake_dialogs.h"
#include "support/modal_poller.h"

namespace {

QByteArray fileContents(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
}

QStringList isForm2(QWidget *w)
{
    return qobject_cast<TForm2 *>(w) ? QStringList() : QStringList{"not Form2 but " + ModalPoller::describe(w)};
}

// The way a user picks an item: a click on its radio button.
void pick(TForm2 *form, int index)
{
    QRadioButton *b = form->RadioGroup1Buttons[index];
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
}

} // namespace

class TestHardwareDialog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { tintrava::setupFonts(); }
    void init();
    void cleanup();
    void layout();
    void escapeDoesNothing();
    void enterSavesOnlyWhenEnabled();
    void save_data();
    void save();
    void cancelAndCloseKeepEverything_data();
    void cancelAndCloseKeepEverything();
    void selectionKeptWithinRun();
    void failedSaveServesThisRun_data();
    void failedSaveServesThisRun();
#ifdef Q_OS_LINUX
    void failedWriteKeepsOldFile();
#endif

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString confPath() const { return m_dir->filePath("my.conf"); }
};

void TestHardwareDialog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    tintrava::setConfigDirectory(m_dir->path());
    tintrava::HardwareRow = -1;
}

void TestHardwareDialog::cleanup()
{
    tintrava::setConfigDirectory(QString());
    m_dir.reset();
}

void TestHardwareDialog::layout()
{
    TForm2 form;
    QCOMPARE(form.windowTitle(), QString("Hardwareauswahl"));
    QCOMPARE(form.size(), QSize(326, 440));
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    QCOMPARE(form.font().family(), QString(tintrava::DialogFontFamily));
    QCOMPARE(form.font().pointSize(), 8);

    QCOMPARE(form.Label1->text(), QString("Bitte angeschlossene Hardware auswählen"));
    QCOMPARE(form.Label1->pos(), QPoint(8, 16));
    QCOMPARE(form.Label1->height(), 20);
    QVERIFY(form.Label1->width() >= 306);
    QCOMPARE(form.Label1->font().pointSize(), 12);
    QVERIFY2(form.Label1->width() >= form.Label1->fontMetrics().horizontalAdvance(form.Label1->text()),
             qPrintable(QString::number(form.Label1->fontMetrics().horizontalAdvance(form.Label1->text()))));
    for (QPushButton *b : {form.Button1, form.Button2})
        QVERIFY(b->width() >= b->fontMetrics().horizontalAdvance(b->text()));

    QCOMPARE(form.RadioGroup1->title(), QString("Hardware"));
    QCOMPARE(form.RadioGroup1->geometry(), QRect(8, 40, 313, 345));
    const QStringList items{"Nivra Kegel (klein)", "Nivra Kegel (groß)", "Nivra Säule", "Nivra Strahler"};
    int lastTop = -1;
    for (int i = 0; i < 4; ++i) {
        QRadioButton *b = form.RadioGroup1Buttons[i];
        QCOMPARE(b->text(), items[i]);
        QCOMPARE(form.RadioGroup1Items->id(b), i);
        QVERIFY(!b->isChecked());
        // Top to bottom inside the group, the whole text visible.
        QVERIFY(b->y() > lastTop);
        QVERIFY(form.RadioGroup1->rect().contains(b->geometry()));
        QVERIFY(b->width() >= b->sizeHint().width());
        lastTop = b->y();
    }
    QCOMPARE(form.itemIndex(), -1);

    QCOMPARE(form.Button1->text(), QString("speichern"));
    QCOMPARE(form.Button1->geometry(), QRect(240, 400, 75, 25));
    QVERIFY(!form.Button1->isEnabled());
    QVERIFY(form.Button1->isDefault());
    QCOMPARE(form.Button2->text(), QString("abbrechen"));
    QCOMPARE(form.Button2->geometry(), QRect(16, 400, 75, 25));
    // Every control fits the client area.
    for (QWidget *w : {static_cast<QWidget *>(form.Label1), static_cast<QWidget *>(form.RadioGroup1),
                       static_cast<QWidget *>(form.Button1), static_cast<QWidget *>(form.Button2)})
        QVERIFY2(form.rect().contains(w->geometry()), qPrintable(w->objectName()));
}

void TestHardwareDialog::escapeDoesNothing()
{
    TForm2 form;
    bool stillOpen = false;
    ModalPoller poller;
    poller.expect("Form2", isForm2, [&](QWidget *w) {
        auto *f = static_cast<TForm2 *>(w);
        QTest::keyClick(f, Qt::Key_Escape);
        QTest::keyClick(f->RadioGroup1Buttons[0], Qt::Key_Escape);
        stillOpen = f->isVisible();
        QTest::mouseClick(f->Button2, Qt::LeftButton);
    });
    QCOMPARE(form.ShowModal(), mrCancel);
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QVERIFY(stillOpen);
    QVERIFY(!QFile::exists(confPath()));
}

void TestHardwareDialog::enterSavesOnlyWhenEnabled()
{
    TForm2 form;
    bool openAfterFirstEnter = false;
    ModalPoller poller;
    poller.expect("Form2", isForm2, [&](QWidget *w) {
        auto *f = static_cast<TForm2 *>(w);
        QTest::keyClick(f, Qt::Key_Return);
        openAfterFirstEnter = f->isVisible();
        pick(f, 2);
        QTest::keyClick(f->RadioGroup1Buttons[2], Qt::Key_Return);
    });
    QCOMPARE(form.ShowModal(), mrOk);
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QVERIFY(openAfterFirstEnter);
    QCOMPARE(fileContents(confPath()), QByteArray("3\n"));
    QCOMPARE(tintrava::HardwareRow, 3);
}

void TestHardwareDialog::save_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("old"); // previous file, empty for none
    QTest::newRow("Kegel klein, new file") << 0 << QByteArray();
    QTest::newRow("Kegel groß replaces a longer file") << 1 << QByteArray("0\nrest of an old file\n");
    QTest::newRow("Säule") << 2 << QByteArray("1\n");
    QTest::newRow("Strahler") << 3 << QByteArray();
}

void TestHardwareDialog::save()
{
    QFETCH(int, index);
    QFETCH(QByteArray, old);
    if (!old.isEmpty())
        writeFile(confPath(), old);

    TForm2 form;
    bool enabledBefore = true, enabledAfter = false;
    ModalPoller poller;
    poller.expect("Form2", isForm2, [&](QWidget *w) {
        auto *f = static_cast<TForm2 *>(w);
        enabledBefore = f->Button1->isEnabled();
        pick(f, index);
        enabledAfter = f->Button1->isEnabled();
        QTest::mouseClick(f->Button1, Qt::LeftButton);
    });
    QCOMPARE(form.ShowModal(), mrOk);
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QVERIFY(!enabledBefore);
    QVERIFY(enabledAfter);
    QCOMPARE(form.itemIndex(), index);
    QCOMPARE(fileContents(confPath()), QByteArray::number(index + 1) + "\n");
    QCOMPARE(tintrava::HardwareRow, index + 1);
    // Nothing but the file is left in the folder.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"my.conf"});
}

void TestHardwareDialog::cancelAndCloseKeepEverything_data()
{
    QTest::addColumn<bool>("close");
    QTest::newRow("abbrechen") << false;
    QTest::newRow("window closed") << true;
}

void TestHardwareDialog::cancelAndCloseKeepEverything()
{
    QFETCH(bool, close);
    writeFile(confPath(), "2\n");
    tintrava::HardwareRow = 2;

    TForm2 form;
    ModalPoller poller;
    poller.expect("Form2", isForm2, [&](QWidget *w) {
        auto *f = static_cast<TForm2 *>(w);
        pick(f, 3);
        if (close)
            f->close();
        else
            QTest::mouseClick(f->Button2, Qt::LeftButton);
    });
    QCOMPARE(form.ShowModal(), mrCancel);
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(fileContents(confPath()), QByteArray("2\n"));
    QCOMPARE(tintrava::HardwareRow, 2);
}

void TestHardwareDialog::selectionKeptWithinRun()
{
    TForm2 form;
    ModalPoller poller;
    poller.expect("Form2 first", isForm2, [&](QWidget *w) {
        auto *f = static_cast<TForm2 *>(w);
        pick(f, 1);
        QTest::mouseClick(f->Button2, Qt::LeftButton);
    });
    bool keptSelection = false, keptEnabled = false;
    poller.expect("Form2 again", isForm2, [&](QWidget *w) {
        auto *f = static_cast<TForm2 *>(w);
        keptSelection = f->RadioGroup1Buttons[1]->isChecked();
        keptEnabled = f->Button1->isEnabled();
        QTest::mouseClick(f->Button2, Qt::LeftButton);
    });
    QCOMPARE(form.ShowModal(), mrCancel);
    QCOMPARE(form.ShowModal(), mrCancel);
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QVERIFY(keptSelection);
    QVERIFY(keptEnabled);
    QCOMPARE(form.itemIndex(), 1);
}

void TestHardwareDialog::failedSaveServesThisRun_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("my.conf is a folder") << "folder";
    QTest::newRow("folder does not exist") << "missing";
}

// A save that cannot be done shows the error box, which says the choice is
// not kept; the dialog still ends with OK and the choice serves this run, so
// that a user who may not write my.conf can use the program all the same.
void TestHardwareDialog::failedSaveServesThisRun()
{
    QFETCH(QString, kind);
    if (kind == "folder") {
        QVERIFY(QDir(m_dir->path()).mkdir("my.conf"));
        writeFile(m_dir->filePath("my.conf/keep"), "x");
    } else {
        tintrava::setConfigDirectory(m_dir->filePath("gone"));
    }
    const QString path = tintrava::configFilePath();
    tintrava::HardwareRow = 4;

    TForm2 form;
    ModalPoller poller;
    poller.expect("Form2", isForm2, [&](QWidget *w) {
        auto *f = static_cast<TForm2 *>(w);
        pick(f, 0);
        QTest::mouseClick(f->Button1, Qt::LeftButton); // the error box comes up in here
    });
    poller.expectError(QString("Die Datei \u201E%1\u201C konnte nicht geschrieben werden: ").arg(QDir::toNativeSeparators(path)));
    QCOMPARE(form.ShowModal(), mrOk);
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QVERIFY(!form.isVisible());
    QCOMPARE(tintrava::HardwareRow, 1);
    if (kind == "folder") {
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"my.conf"});
    } else {
        QVERIFY(!QFileInfo::exists(m_dir->filePath("gone")));
    }

    // The box's text: the reason, then what becomes of the choice.
    FakeDialogs dialogs;
    form.setDialogs(&dialogs);
    form.setItemIndex(2);
    form.Button1Click();
    QCOMPARE(dialogs.errors().size(), size_t(1));
    const QString text = QString::fromStdString(dialogs.errors()[0]);
    QVERIFY2(text.endsWith(QString::fromUtf8("\n\nDie Auswahl konnte nicht dauerhaft gespeichert werden und gilt nur, "
                                             "bis die Software beendet wird. Beim nächsten Start wird erneut nach "
                                             "der Hardware gefragt.")),
             qPrintable(text));
    QCOMPARE(tintrava::HardwareRow, 3);
}

#ifdef Q_OS_LINUX
// The disk refuses the new contents (here: a file size limit, which binds
// root too). The old file must survive whole.
void TestHardwareDialog::failedWriteKeepsOldFile()
{
    writeFile(confPath(), "3\n");
    tintrava::HardwareRow = 3;
    FakeDialogs dialogs;
    TForm2 form;
    form.setDialogs(&dialogs);

    struct rlimit old {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 1;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    form.setItemIndex(0);
    form.Button1Click();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    // The old choice stays on disk for the next start; this run uses the new one.
    QCOMPARE(dialogs.errors().size(), size_t(1));
    const QString text = QString::fromStdString(dialogs.errors()[0]);
    QVERIFY2(text.contains("konnte nicht geschrieben werden")
                 && text.endsWith(QString::fromUtf8("Beim nächsten Start gilt wieder die zuvor gespeicherte Auswahl.")),
             qPrintable(text));
    QCOMPARE(fileContents(confPath()), QByteArray("3\n"));
    QCOMPARE(tintrava::HardwareRow, 1);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"my.conf"});
}
#endif

QTEST_MAIN(TestHardwareDialog)
#include "test_hardware_dialog.moc"
