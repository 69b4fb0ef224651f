// The real boxes behind the Dialogs interface, answered through the poller,
// and the poller's own failure reports.
#include <QtTest>

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include "ui/fonts.h"
#include "support/modal_poller.h"
#include "ui/qt_dialogs.h"

using tintrava::QtDialogs;

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { tintrava::setupFonts(); }
    void inputBox_data();
    void inputBox();
    void inputBoxClosedReturnsDefault();
    void inputBoxKeepsAtMost255Characters();
    void messageBox();
    void errorBox();
    void informationBox();
    void twoBoxesInARow();
    void questionBox_data();
    void questionBox();
    void fileDialogs_data();
    void fileDialogs();
    void saveDialogFilter_data();
    void saveDialogFilter();
    void pollerReportsMissingBox();
    void pollerClosesUnexpectedBox();
    void pollerReportsWrongBox();
};

void TestDialogs::inputBox_data()
{
    QTest::addColumn<QString>("defaultText");
    QTest::addColumn<bool>("escape");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::newRow("typed over empty default") << "" << false << "550" << "550";
    QTest::newRow("typed replaces the selected default") << "3" << false << "12" << "12";
    QTest::newRow("umlauts") << "" << false << "Grün ß" << "Grün ß";
    QTest::newRow("emptied field gives empty text") << "7" << false << "" << "";
    QTest::newRow("Escape returns the default") << "7" << true << "" << "7";
    QTest::newRow("Escape with empty default") << "" << true << "" << "";
}

void TestDialogs::inputBox()
{
    QFETCH(QString, defaultText);
    QFETCH(bool, escape);
    QFETCH(QString, typed);
    QFETCH(QString, result);

    ModalPoller poller;
    // An empty "typed" with Enter deletes the selected default.
    poller.expectInput("Zeit ändern", "Bitte geben Sie eine neue Zeit ein (Minuten)", defaultText,
                       escape ? std::nullopt : std::optional<QString>(typed));
    QtDialogs dialogs;
    const std::string answer =
        dialogs.inputBox("Zeit ändern", "Bitte geben Sie eine neue Zeit ein (Minuten)", defaultText.toStdString());
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(QString::fromStdString(answer), result);
}

void TestDialogs::inputBoxClosedReturnsDefault()
{
    ModalPoller poller;
    poller.expect(
        "input box", [](QWidget *w) { return qobject_cast<tintrava::InputBox *>(w) ? QStringList() : QStringList{"wrong"}; },
        [](QWidget *w) {
            auto *box = qobject_cast<tintrava::InputBox *>(w);
            QTest::keyClicks(box->edit(), "999");
            box->close();
        });
    QtDialogs dialogs;
    const std::string answer = dialogs.inputBox("Wellenlänge", "Frage", "5");
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(answer, std::string("5"));
}

void TestDialogs::inputBoxKeepsAtMost255Characters()
{
    ModalPoller poller;
    poller.expectInput("Wellenlänge", "Frage", "", QString(300, QLatin1Char('7')));
    QtDialogs dialogs;
    const std::string answer = dialogs.inputBox("Wellenlänge", "Frage", "");
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(answer, std::string(255, '7'));
}

void TestDialogs::messageBox()
{
    ModalPoller poller;
    poller.expectMessage("eingegebener Wert ist ungültig");
    QtDialogs().showMessage("eingegebener Wert ist ungültig");
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(poller.answered(), 1);
}

void TestDialogs::errorBox()
{
    ModalPoller poller;
    poller.expectError("Die Datei");
    QtDialogs().showError("Die Datei \u201E/x/my.conf\u201C konnte nicht gelesen werden: Is a directory");
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
}

void TestDialogs::informationBox()
{
    ModalPoller poller;
    poller.expectInformation("Die Lampe ist angeschlossen");
    QtDialogs().showInformation("Die Lampe ist angeschlossen, aber ein anderes Programm verwendet sie gerade.");
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
}

// The second box comes up after the first was answered; both must be seen.
void TestDialogs::twoBoxesInARow()
{
    ModalPoller poller;
    poller.expectInput("Wellenlänge", "Frage", "", QStringLiteral("abc"));
    poller.expectMessage("eingegebener Wert ist ungültig");
    QtDialogs dialogs;
    const std::string answer = dialogs.inputBox("Wellenlänge", "Frage", "");
    dialogs.showMessage("eingegebener Wert ist ungültig");
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(answer, std::string("abc"));
}

void TestDialogs::questionBox_data()
{
    QTest::addColumn<QString>("answer");  // a button's text, or a key
    QTest::addColumn<bool>("yes");
    QTest::newRow("Ja") << "Ja" << true;
    QTest::newRow("Nein") << "Nein" << false;
    QTest::newRow("Enter means Nein") << "Return" << false;
    QTest::newRow("Escape means Nein") << "Escape" << false;
}

void TestDialogs::questionBox()
{
    QFETCH(QString, answer);
    QFETCH(bool, yes);
    ModalPoller poller;
    poller.expect(
        "question",
        [](QWidget *w) {
            QStringList faults;
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box)
                return QStringList{"not a message box: " + ModalPoller::describe(w)};
            if (box->windowTitle() != "Tintrava")
                faults << "caption " + box->windowTitle();
            if (box->text() != "Trotzdem ersetzen?")
                faults << "text " + box->text();
            QStringList buttons;
            for (QAbstractButton *b : box->buttons())
                buttons << b->text();
            if (buttons != QStringList{"Ja", "Nein"})
                faults << "buttons " + buttons.join(',');
            return faults;
        },
        [answer](QWidget *w) {
            auto *box = static_cast<QMessageBox *>(w);
            for (QAbstractButton *b : box->buttons())
                if (b->text() == answer) {
                    QTest::mouseClick(b, Qt::LeftButton);
                    return;
                }
            QTest::keyClick(box, answer == "Return" ? Qt::Key_Return : Qt::Key_Escape);
        });
    QtDialogs dialogs;
    const bool result = dialogs.question("Trotzdem ersetzen?");
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(result, yes);
}

// Qt's own file dialog, in German; what is typed comes back as typed: the
// caller adds the extension and asks before replacing.
void TestDialogs::fileDialogs_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("start");  // in the temporary folder
    QTest::addColumn<QString>("typed");  // empty: cancelled
    QTest::addColumn<QString>("result");
    QTest::newRow("open") << false << "" << "a.tintrava" << "a.tintrava";
    QTest::newRow("open cancelled") << false << "" << "" << "";
    QTest::newRow("save, no extension") << true << "" << "neu" << "neu";
    QTest::newRow("save over a file: no question here") << true << "a.tintrava" << "a.tintrava" << "a.tintrava";
    QTest::newRow("save cancelled") << true << "a.tintrava" << "" << "";
}

void TestDialogs::fileDialogs()
{
    QFETCH(bool, save);
    QFETCH(QString, start);
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("a.tintrava"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString caption = save ? "Abfolge speichern" : "Abfolge öffnen";

    ModalPoller poller;
    poller.expect(
        caption,
        [&](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            if (!dialog)
                return QStringList{"not a file dialog: " + ModalPoller::describe(w)};
            QStringList faults;
            if (dialog->windowTitle() != caption)
                faults << "caption " + dialog->windowTitle();
            if (dialog->nameFilters() != QStringList{"Tintrava-Abfolgen (*.tintrava)", "CSV-Dateien (*.csv)", "Alle Dateien (*)"})
                faults << "filters " + dialog->nameFilters().join(";;");
            if (!dialog->testOption(QFileDialog::DontUseNativeDialog))
                faults << "a native dialog";
            if (dialog->acceptMode() != (save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen))
                faults << "wrong mode";
            if (QDir(dialog->directory()).canonicalPath() != QDir(dir.path()).canonicalPath())
                faults << "starts in " + dialog->directory().path();
            auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
            if (!edit)
                faults << "no file name field";
            else if (save && edit->text() != QFileInfo(start).fileName())
                faults << "name field holds " + edit->text();
            return faults;
        },
        [typed](QWidget *w) {
            auto *dialog = static_cast<QFileDialog *>(w);
            if (typed.isEmpty()) {
                QTest::keyClick(dialog, Qt::Key_Escape);
                return;
            }
            auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
            edit->setText(typed);
            QTest::keyClick(edit, Qt::Key_Return);
        });
    QtDialogs dialogs;
    const std::string startPath = (start.isEmpty() ? dir.path() + "/" : dir.filePath(start)).toStdString();
    const std::string filters = "Tintrava-Abfolgen (*.tintrava);;CSV-Dateien (*.csv);;Alle Dateien (*)";
    const std::string chosen = save ? dialogs.saveFileName(caption.toStdString(), startPath, filters, nullptr)
                                    : dialogs.openFileName(caption.toStdString(), startPath, filters);
    // Anything else (Qt's own "replace?" question) would be an unexpected box.
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(QString::fromStdString(chosen), result.isEmpty() ? QString() : dir.filePath(result));
}

// The save dialog shows the filter asked for and tells which one was chosen.
void TestDialogs::saveDialogFilter_data()
{
    QTest::addColumn<QString>("shownFirst"); // asked for; empty: none
    QTest::addColumn<QString>("picked");     // chosen in the dialog; empty: left as shown
    QTest::addColumn<QString>("chosen");
    const QString tintrava = "Tintrava-Abfolge (*.tintrava)";
    const QString csv = "CSV (Semikolon) (*.csv)";
    QTest::newRow("none asked for: the first") << "" << "" << tintrava;
    QTest::newRow("CSV asked for") << csv << "" << csv;
    QTest::newRow("CSV picked") << tintrava << csv << csv;
    QTest::newRow("Tintrava picked over CSV") << csv << tintrava << tintrava;
}

void TestDialogs::saveDialogFilter()
{
    QFETCH(QString, shownFirst);
    QFETCH(QString, picked);
    QFETCH(QString, chosen);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString expectedFirst = shownFirst.isEmpty() ? "Tintrava-Abfolge (*.tintrava)" : shownFirst;

    ModalPoller poller;
    poller.expect(
        "Abfolge speichern",
        [&](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            if (!dialog)
                return QStringList{"not a file dialog: " + ModalPoller::describe(w)};
            if (dialog->selectedNameFilter() != expectedFirst)
                return QStringList{"shows " + dialog->selectedNameFilter()};
            return QStringList();
        },
        [picked](QWidget *w) {
            auto *dialog = static_cast<QFileDialog *>(w);
            if (!picked.isEmpty()) {
                auto *types = dialog->findChild<QComboBox *>("fileTypeCombo");
                const int index = types->findText(picked);
                types->setCurrentIndex(index);
                emit types->activated(index);
            }
            auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
            edit->setText("neu");
            QTest::keyClick(edit, Qt::Key_Return);
        });
    QtDialogs dialogs;
    std::string filter = shownFirst.toStdString();
    const std::string path = dialogs.saveFileName("Abfolge speichern", dir.path().toStdString() + "/",
                                                  "Tintrava-Abfolge (*.tintrava);;CSV (Semikolon) (*.csv)", &filter);
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    // The extension is the caller's to add.
    QCOMPARE(QString::fromStdString(path), dir.filePath("neu"));
    QCOMPARE(QString::fromStdString(filter), chosen);
}

void TestDialogs::pollerReportsMissingBox()
{
    ModalPoller poller;
    poller.expectMessage("kommt nie");
    QVERIFY(!poller.finish(200));
    QVERIFY(poller.report().contains("never came"));
}

void TestDialogs::pollerClosesUnexpectedBox()
{
    ModalPoller poller;
    QtDialogs().showMessage("unerwartet"); // returns because the poller closes it
    QVERIFY(!poller.finish(200));
    QVERIFY2(poller.report().contains("unerwartet"), qPrintable(poller.report()));
}

void TestDialogs::pollerReportsWrongBox()
{
    ModalPoller poller;
    poller.expectMessage("richtig");
    QtDialogs().showError("richtig");
    QVERIFY(!poller.finish(200));
    QVERIFY2(poller.report().contains("icon"), qPrintable(poller.report()));
}

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
