// The real boxes behind the Dialogs interface, answered through the poller,
// and the poller's own failure reports.
#include <QtTest>

#include <QLineEdit>
#include <QMessageBox>

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
