// Form1 and Form2 by keyboard alone: the focus order, the palette entries as
// buttons with their focus frame, the grid keys, F5 and Escape, where the
// focus goes around playing and the hardware dialog, and the dialog's keys.
#include <QtTest>

#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

#include "ui/fonts.h"
#include "ui/hardware_dialog.h"
#include "storage/settings_file.h"
#include "lamp/lampstate.h"
#include "support/fake_d2xx.h"
#include "support/fake_dialogs.h"
#include "support/grid_rows.h"
#include "support/main_window_fixture.h"
#include "support/modal_poller.h"
#include "ui/main_window.h"

namespace {

QString focusName()
{
    QWidget *w = QApplication::focusWidget();
    return w ? w->objectName() : QStringLiteral("(none)");
}

// A key as the window system delivers it: to whatever has the focus.
void press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWidget *target = QApplication::focusWidget();
    QVERIFY2(target, "nothing has the keyboard focus");
    QTest::keyClick(target, Qt::Key(key), mods);
}

const QStringList TabOrder = {"Panel8", "Panel14", "Panel15", "Panel11", "Panel12", "Panel7",
                              "Panel10", "Panel6", "Panel13", "Panel9", "Panel5", "Panel16",
                              "StringGrid1", "Button1", "Button2", "Button3", "Button5"};

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { tintrava::setupFonts(); }
    void init();
    void cleanup();

    void startsOnFirstPaletteEntry();
    void tabOrder();
    void paletteArrowKeys();
    void paletteKeysClick_data();
    void paletteKeysClick();
    void heldKeyAddsOneRow();
    void mouseLeavesFocusAlone();
    void focusFrame_data();
    void focusFrame();
    void gridMoves_data();
    void gridMoves();
    void gridMovesWithoutSteps();
    void gridCommands();
    void gridCommandsOnEmptyGrid();
    void startAndStopByKeys();
    void focusBackAfterRunOut();
    void menuKeyOpensHardwareDialog();
    void startupDialogThenPalette();
    void hardwareDialogKeys();
    void hardwareDialogEnterOnCancel();

private:
    TForm1 &form() { return *m_window.form; }
    void addRows(int count);

    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindowFixture m_window;
};

void TestKeyboard::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    tintrava::testing::fakeD2xx().reset();
    tintrava::testing::fakeD2xx().install();
    m_window.open(m_dir->path(), "1\n");
    if (QTest::currentTestFailed())
        return;
    form().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form()));
}

void TestKeyboard::cleanup()
{
    if (m_window.dialogs)
        QVERIFY2(m_window.dialogs->scriptDone(), "an expected input box did not come");
    m_window.close();
    m_dir.reset();
}

void TestKeyboard::addRows(int count)
{
    static const int colours[] = {1, 2, 3, 4, 5};
    for (int i = 0; i < count; ++i)
        form().addcolor(colours[i % 5]);
}

void TestKeyboard::startsOnFirstPaletteEntry()
{
    QCOMPARE(focusName(), QString("Panel8"));
    QVERIFY(form().Panel8->hasFocus());
}

void TestKeyboard::tabOrder()
{
    QCOMPARE(focusName(), TabOrder.first());
    // Twice round forwards, then twice back: the indicator is never visited.
    for (int round = 0; round < 2; ++round) {
        for (int i = 1; i <= TabOrder.size(); ++i) {
            press(Qt::Key_Tab);
            QCOMPARE(focusName(), TabOrder[i % TabOrder.size()]);
        }
    }
    for (int round = 0; round < 2; ++round) {
        for (int i = int(TabOrder.size()) - 1; i >= 0; --i) {
            press(Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(focusName(), TabOrder[i]);
        }
    }
    QVERIFY(form().ComboBox1->focusPolicy() == Qt::NoFocus || !form().ComboBox1->isEnabled());
}

void TestKeyboard::paletteArrowKeys()
{
    for (int i = 1; i < 12; ++i) {
        press(Qt::Key_Down);
        QCOMPARE(focusName(), TabOrder[i]);
    }
    // The last entry stays; Down does not fall into the grid.
    press(Qt::Key_Down);
    QCOMPARE(focusName(), QString("Panel16"));
    for (int i = 10; i >= 0; --i) {
        press(Qt::Key_Up);
        QCOMPARE(focusName(), TabOrder[i]);
    }
    press(Qt::Key_Up);
    QCOMPARE(focusName(), QString("Panel8"));
    QCOMPARE(rowsOf(form().grid()), QStringList{Header});
}

void TestKeyboard::paletteKeysClick_data()
{
    QTest::addColumn<int>("down"); // entries below "Weiß"
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("row");
    QTest::newRow("Weiß Space") << 0 << int(Qt::Key_Space) << "4|Weiß|1";
    QTest::newRow("Weiß Return") << 0 << int(Qt::Key_Return) << "4|Weiß|1";
    QTest::newRow("Indigo Enter") << 4 << int(Qt::Key_Enter) << "12|Indigo|1";
    QTest::newRow("Rot Space") << 10 << int(Qt::Key_Space) << "1|Rot|1";
    QTest::newRow("wavelength Space") << 11 << int(Qt::Key_Space) << "13|550 nm|1";
    QTest::newRow("wavelength Return") << 11 << int(Qt::Key_Return) << "13|550 nm|1";
}

void TestKeyboard::paletteKeysClick()
{
    QFETCH(int, down);
    QFETCH(int, key);
    QFETCH(QString, row);
    for (int i = 0; i < down; ++i)
        press(Qt::Key_Down);
    if (row.startsWith("13|"))
        m_window.dialogs->answer("550");
    press(key);
    QCOMPARE(rowsOf(form().grid()), (QStringList{Header, row}));
    if (row.startsWith("13|")) {
        QCOMPARE(m_window.dialogs->inputs().size(), size_t(1));
        QCOMPARE(m_window.dialogs->inputs()[0].caption, std::string("Wellenlänge"));
    }
    // The focus stays on the entry, so the next key adds another.
    QCOMPARE(focusName(), TabOrder[down]);
}

void TestKeyboard::heldKeyAddsOneRow()
{
    QWidget *entry = form().Panel8;
    QTest::sendKeyEvent(QTest::Press, entry, Qt::Key_Return, QString("\r"), Qt::NoModifier);
    for (int i = 0; i < 3; ++i) {
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString("\r"), true);
        QApplication::sendEvent(entry, &repeat);
        QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QString(" "), true);
        QApplication::sendEvent(entry, &space);
    }
    QCOMPARE(rowsOf(form().grid()).size(), 2);
    // Space clicks when let go, not when pressed; let go elsewhere it does not.
    QTest::keyPress(entry, Qt::Key_Space);
    QCOMPARE(rowsOf(form().grid()).size(), 2);
    QTest::keyRelease(entry, Qt::Key_Space);
    QCOMPARE(rowsOf(form().grid()).size(), 3);
    QTest::keyPress(entry, Qt::Key_Space);
    press(Qt::Key_Tab);
    QTest::keyRelease(form().Panel14, Qt::Key_Space);
    QCOMPARE(rowsOf(form().grid()).size(), 3);
}

void TestKeyboard::mouseLeavesFocusAlone()
{
    form().Button2->setFocus();
    QTest::mouseClick(form().Panel5, Qt::LeftButton);
    QCOMPARE(rowsOf(form().grid()), (QStringList{Header, "1|Rot|1"}));
    QCOMPARE(focusName(), QString("Button2"));
    QVERIFY(!form().Panel5->hasFocus());
}

void TestKeyboard::focusFrame_data()
{
    QTest::addColumn<QString>("panel");
    QTest::newRow("Weiß") << "Panel8";
    QTest::newRow("Indigo") << "Panel12";
    QTest::newRow("Gelb") << "Panel13";
    QTest::newRow("Wellenlängen-Angabe") << "Panel16";
}

void TestKeyboard::focusFrame()
{
    QFETCH(QString, panel);
    auto *p = form().findChild<TPanel *>(panel);
    QVERIFY(p);
    const QColor fill = p->color();
    form().Button1->setFocus();
    // Qt draws a label's caption through a text document of its own once the
    // label has taken the focus; the panel has none before. The caption must
    // look the same both ways (compared at the end).
    const auto hasTextDocument = [p] {
        for (const QObject *child : p->children())
            if (qstrcmp(child->metaObject()->className(), "QWidgetTextControl") == 0)
                return true;
        return false;
    };
    // The first entry has had the focus since the window showed.
    if (p != form().Panel8)
        QVERIFY(!hasTextDocument());
    const QImage before = p->grab().toImage();
    p->setFocus(Qt::TabFocusReason);
    QVERIFY(p->hasFocus());
    QVERIFY(hasTextDocument());
    // Like Windows' keyboard cues: no frame before the keyboard is used in the
    // window, so that a mouse user never sees one; Ctrl or Shift alone is no use.
    QTest::keyClick(p, Qt::Key_Shift);
    QTest::keyClick(p, Qt::Key_Control);
    QCOMPARE(p->grab().toImage(), before);
    QTest::keyClick(p, Qt::Key_Tab);
    QVERIFY(!p->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QVERIFY(p->hasFocus());
    const QImage after = p->grab().toImage();
    QCOMPARE(after.size(), QSize(209, 25));
    QCOMPARE(before.size(), after.size());

    // Without the focus: the panel's own colour where the frame goes.
    const int in = TPanel::FocusFrameInset;
    QCOMPARE(before.pixelColor(in + 20, in), fill);
    // With it: a dark and a light line all round, inside the panel's edge.
    const auto differs = [](const QColor &a, const QColor &b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
    };
    const QList<QPoint> outer = {{in + 20, in}, {in + 20, 24 - in}, {in, 12}, {208 - in, 12}};
    const QList<QPoint> inner = {{in + 20, in + 1}, {in + 20, 23 - in}, {in + 1, 12}, {207 - in, 12}};
    for (const QPoint &pt : outer)
        QCOMPARE(after.pixelColor(pt), TPanel::FocusFrameOuter);
    for (const QPoint &pt : inner)
        QCOMPARE(after.pixelColor(pt), TPanel::FocusFrameInner);
    // Either line stands out clearly from the panel colour.
    QVERIFY(std::max(differs(fill, TPanel::FocusFrameOuter), differs(fill, TPanel::FocusFrameInner)) >= 300);
    // The raised edge and the caption's middle are as before.
    for (const QPoint &pt : {QPoint(0, 12), QPoint(100, 0), QPoint(208, 12), QPoint(100, 24)})
        QCOMPARE(after.pixelColor(pt), before.pixelColor(pt));
    QImage middleBefore = before.copy(in + 3, in + 3, 209 - 2 * in - 6, 25 - 2 * in - 6);
    QImage middleAfter = after.copy(in + 3, in + 3, 209 - 2 * in - 6, 25 - 2 * in - 6);
    QCOMPARE(middleAfter, middleBefore);
}

void TestKeyboard::gridMoves_data()
{
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("to");
    QTest::newRow("Down") << 5 << 1 << int(Qt::Key_Down) << 2;
    QTest::newRow("Down at the end") << 5 << 5 << int(Qt::Key_Down) << 5;
    QTest::newRow("Up") << 5 << 3 << int(Qt::Key_Up) << 2;
    QTest::newRow("Up never onto the header") << 5 << 1 << int(Qt::Key_Up) << 1;
    QTest::newRow("Home") << 5 << 4 << int(Qt::Key_Home) << 1;
    QTest::newRow("End") << 5 << 2 << int(Qt::Key_End) << 5;
    QTest::newRow("Page Up stops at the first step") << 5 << 4 << int(Qt::Key_PageUp) << 1;
    QTest::newRow("Page Down stops at the last step") << 5 << 2 << int(Qt::Key_PageDown) << 5;
    QTest::newRow("Page Down by a page") << 40 << 1 << int(Qt::Key_PageDown) << 1 + (305 - 4) / 24 - 1;
    QTest::newRow("Page Up by a page") << 40 << 30 << int(Qt::Key_PageUp) << 30 - ((305 - 4) / 24 - 1);
}

void TestKeyboard::gridMoves()
{
    QFETCH(int, steps);
    QFETCH(int, from);
    QFETCH(int, key);
    QFETCH(int, to);
    addRows(steps);
    TStringGrid *grid = form().StringGrid1;
    grid->setSelectedRow(from);
    grid->setFocus(Qt::TabFocusReason);
    const int perPage = std::max(1, grid->viewport()->height() / TStringGrid::DefaultRowHeight - 1);
    if (QByteArray(QTest::currentDataTag()).startsWith("Page") && steps > 5)
        QCOMPARE(perPage, (305 - 4) / 24 - 1); // the table above assumes this viewport
    press(key);
    QCOMPARE(grid->selectedRow(), to);
    QCOMPARE(grid->selectedRanges().size(), 1);
    QCOMPARE(grid->selectedRanges()[0].topRow(), to);
    QCOMPARE(grid->selectedRanges()[0].bottomRow(), to);
    QCOMPARE(grid->selectedRanges()[0].columnCount(), 3);
    // The selected row is in view.
    QVERIFY(grid->viewport()->rect().intersects(grid->visualRect(grid->model()->index(to, 0))));
    QCOMPARE(grid->rowCount(), steps + 1);
}

void TestKeyboard::gridMovesWithoutSteps()
{
    TStringGrid *grid = form().StringGrid1;
    grid->setFocus(Qt::TabFocusReason);
    for (int key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_End, Qt::Key_Home, Qt::Key_PageDown, Qt::Key_A})
        press(key);
    QCOMPARE(grid->selectedRow(), 0);
    QCOMPARE(rowsOf(form().grid()), QStringList{Header});
}

void TestKeyboard::gridCommands()
{
    addRows(3); // Rot, Grün, Blau
    TStringGrid *grid = form().StringGrid1;
    grid->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Down);
    QCOMPARE(grid->selectedRow(), 2);

    press(Qt::Key_Plus);
    press(Qt::Key_Plus, Qt::KeypadModifier);
    press(Qt::Key_Plus, Qt::ShiftModifier); // where "+" needs Shift
    QCOMPARE(rowsOf(form().grid())[2], QString("2|Grün|4"));
    press(Qt::Key_Minus);
    press(Qt::Key_Minus, Qt::KeypadModifier);
    QCOMPARE(rowsOf(form().grid())[2], QString("2|Grün|2"));
    press(Qt::Key_Minus);
    press(Qt::Key_Minus);
    QCOMPARE(rowsOf(form().grid())[2], QString("2|Grün|1"));

    // Enter and F2: "Zeit ändern" on the selected row, with its checks.
    m_window.dialogs->answer("7");
    press(Qt::Key_Return);
    m_window.dialogs->answer("05");
    press(Qt::Key_F2);
    m_window.dialogs->answer("9");
    press(Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(m_window.dialogs->inputs().size(), size_t(3));
    QCOMPARE(m_window.dialogs->inputs()[0].caption, std::string("Zeit ändern"));
    QCOMPARE(m_window.dialogs->inputs()[0].defaultText, std::string("1"));
    QCOMPARE(m_window.dialogs->messages(),
             std::vector<std::string>{"Bitte geben Sie einen gültigen Zahlenwert ein"});
    QCOMPARE(rowsOf(form().grid())[2], QString("2|Grün|9"));

    // Delete: the selection stays on the row index, then moves up at the end.
    press(Qt::Key_Delete);
    QCOMPARE(rowsOf(form().grid()), (QStringList{Header, "1|Rot|1", "3|Blau|1"}));
    QCOMPARE(grid->selectedRow(), 2);
    press(Qt::Key_Delete);
    QCOMPARE(rowsOf(form().grid()), (QStringList{Header, "1|Rot|1"}));
    QCOMPARE(grid->selectedRow(), 1);
    press(Qt::Key_Delete);
    QCOMPARE(rowsOf(form().grid()), QStringList{Header});
    // The keys went to the grid's commands, not to a search or the header.
    QVERIFY(grid->hasFocus());
}

void TestKeyboard::gridCommandsOnEmptyGrid()
{
    form().StringGrid1->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Plus);
    press(Qt::Key_Minus);
    press(Qt::Key_F2);
    QCOMPARE(rowsOf(form().grid()), QStringList{Header});
    QVERIFY(m_window.dialogs->shown().empty());
    press(Qt::Key_Delete);
    QCOMPARE(m_window.dialogs->messages(),
             std::vector<std::string>{"Es sind keine Farben in der Liste. Deshalb kann keine gelöscht werden können."});
}

void TestKeyboard::startAndStopByKeys()
{
    TForm1 &f = form();
    auto &fake = tintrava::testing::fakeD2xx();
    fake.devices = {{"Sela-Lumen", "VL1"}};
    fake.responder = [](const std::string &) { return std::string("OK\r\n"); };
    f.hooks.sleep = [](int) {};

    // Nothing to play: the button's message, from anywhere.
    press(Qt::Key_F5);
    QCOMPARE(m_window.dialogs->messages(), std::vector<std::string>{"Es sind keine Farben für die Abfolge ausgewählt"});
    QVERIFY(!f.Panel27->isVisible());

    press(Qt::Key_Down);
    press(Qt::Key_Space); // Rosa
    QCOMPARE(focusName(), QString("Panel14"));
    press(Qt::Key_F5);
    QVERIFY(f.Panel27->isVisible());
    QVERIFY(f.Timer1->isActive());
    QCOMPARE(focusName(), QString("Button4"));
    // Nothing under the overlay is reachable; Tab stays on "Abbrechen".
    press(Qt::Key_Tab);
    QCOMPARE(focusName(), QString("Button4"));
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(focusName(), QString("Button4"));
    // F5 again does not start over.
    press(Qt::Key_F5);
    QVERIFY(f.Panel27->isVisible());
    QVERIFY(m_window.dialogs->messages().size() == 1);

    fake.writes.clear();
    press(Qt::Key_Escape);
    QVERIFY(!f.Panel27->isVisible());
    QVERIFY(!f.Timer1->isActive());
    // A tick may have come first; the lamp is switched off last.
    QVERIFY(!fake.writes.empty());
    QCOMPARE(fake.writes.back(), std::string("C000000\r\n"));
    QCOMPARE(focusName(), QString("Panel14"));
    QCOMPARE(rowsOf(f.grid()), (QStringList{Header, "9|Rosa|1"}));
    // Escape while idle does nothing.
    const size_t sent = fake.writes.size();
    press(Qt::Key_Escape);
    QCOMPARE(fake.writes.size(), sent);

    // Space and Enter on "Abfolge starten" and "Abbrechen" as well.
    f.Button5->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    QVERIFY(f.Panel27->isVisible());
    QCOMPARE(focusName(), QString("Button4"));
    press(Qt::Key_Space);
    QVERIFY(!f.Panel27->isVisible());
    QCOMPARE(focusName(), QString("Button5"));
    press(Qt::Key_Space);
    QVERIFY(f.Panel27->isVisible());
    press(Qt::Key_Return);
    QVERIFY(!f.Panel27->isVisible());
    QCOMPARE(focusName(), QString("Button5"));
}

void TestKeyboard::focusBackAfterRunOut()
{
    TForm1 &f = form();
    double clock = 45000.5;
    f.hooks.now = [&] { return clock; };
    f.hooks.sleep = [](int) {};
    f.addcolor(3);
    f.StringGrid1->setFocus(Qt::TabFocusReason);
    press(Qt::Key_F5);
    QCOMPARE(focusName(), QString("Button4"));
    QVERIFY(!f.StringGrid1->isEnabled());
    clock += 1.0 / 86400;
    f.Timer1Timer();
    clock += 2.0 / 24 / 60;
    f.Timer1Timer();
    QVERIFY(!f.Panel27->isVisible());
    QCOMPARE(focusName(), QString("StringGrid1"));
    for (QWidget *w : f.focusOrder())
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
}

void TestKeyboard::menuKeyOpensHardwareDialog()
{
    TForm1 &f = form();
    press(Qt::Key_Down);
    for (int key : {int(Qt::Key_Menu), int(Qt::Key_F10)}) {
        press(key, key == Qt::Key_F10 ? Qt::ShiftModifier : Qt::NoModifier);
        QTRY_VERIFY(f.PopupMenu1->isVisible());
        QCOMPARE(f.PopupMenu1->activeAction(), f.Harwareanpassen1);
        ModalPoller poller;
        poller.expect("Form2", [](QWidget *w) { return qobject_cast<TForm2 *>(w) ? QStringList() : QStringList{ModalPoller::describe(w)}; },
                      [](QWidget *w) {
                          auto *dialog = static_cast<TForm2 *>(w);
                          QTest::keyClick(dialog->focusWidget(), Qt::Key_Down); // chooses a model
                          QTest::keyClick(dialog->focusWidget(), Qt::Key_Return); // "speichern"
                      });
        QTest::keyClick(f.PopupMenu1, Qt::Key_Return);
        QVERIFY2(poller.finish(), qPrintable(poller.report()));
        QTRY_VERIFY(!f.PopupMenu1->isVisible());
        QTRY_VERIFY(f.isActiveWindow());
        QCOMPARE(focusName(), QString("Panel14"));
    }
    // The dialog keeps its choice within a run: Down went on from model 2.
    QCOMPARE(tintrava::HardwareRow, 3);
}

void TestKeyboard::startupDialogThenPalette()
{
    m_window.close();
    QTemporaryDir dir;
    tintrava::setConfigDirectory(dir.path());
    TForm2 form2;
    TForm1 form1;
    FakeDialogs dialogs;
    form1.setForm2(&form2);
    form1.setDialogs(&dialogs);
    form1.hooks.terminate = [] { QFAIL("terminated"); };
    ModalPoller poller;
    poller.expect("Form2", [](QWidget *w) { return qobject_cast<TForm2 *>(w) ? QStringList() : QStringList{ModalPoller::describe(w)}; },
                  [](QWidget *w) {
                      auto *dialog = static_cast<TForm2 *>(w);
                      QCOMPARE(QApplication::focusWidget(), dialog->RadioGroup1Buttons[0]);
                      QTest::keyClick(dialog->RadioGroup1Buttons[0], Qt::Key_Space);
                      QTest::keyClick(dialog->RadioGroup1Buttons[0], Qt::Key_Return);
                  });
    form1.show();
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QTRY_VERIFY(form1.startupCheckDone());
    QTRY_VERIFY(form1.isActiveWindow());
    QCOMPARE(QApplication::focusWidget(), form1.Panel8);
    QCOMPARE(tintrava::HardwareRow, 1);
    tintrava::setConfigDirectory(QString());
}

void TestKeyboard::hardwareDialogKeys()
{
    m_window.close();
    QTemporaryDir dir;
    tintrava::setConfigDirectory(dir.path());
    TForm2 dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), dialog.RadioGroup1Buttons[0]);

    // Enter saves nothing while "speichern" is disabled; Escape does nothing.
    press(Qt::Key_Return);
    press(Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.itemIndex(), -1);
    QVERIFY(!QFile::exists(dir.filePath("my.conf")));

    // Tab: the models are one stop, then "abbrechen"; "speichern" is
    // skipped while disabled.
    QStringList order{focusName()};
    for (int i = 0; i < 2; ++i) {
        press(Qt::Key_Tab);
        order << focusName();
    }
    QCOMPARE(order, (QStringList{"RadioGroup1Item0", "Button2", "RadioGroup1Item0"}));
    // The arrow keys choose.
    press(Qt::Key_Down);
    QCOMPARE(dialog.itemIndex(), 1);
    QVERIFY(dialog.Button1->isEnabled());
    press(Qt::Key_Down);
    press(Qt::Key_Right);
    QCOMPARE(dialog.itemIndex(), 3);
    press(Qt::Key_Down);
    QCOMPARE(dialog.itemIndex(), 3);
    QCOMPARE(focusName(), QString("RadioGroup1Item3"));
    press(Qt::Key_Up);
    press(Qt::Key_Left);
    QCOMPARE(dialog.itemIndex(), 1);
    press(Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    // Tab now also stops on "speichern", and comes back to the chosen model.
    press(Qt::Key_Tab);
    QCOMPARE(focusName(), QString("Button2"));
    press(Qt::Key_Tab);
    QCOMPARE(focusName(), QString("Button1"));
    press(Qt::Key_Tab);
    QCOMPARE(focusName(), QString("RadioGroup1Item1"));
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(focusName(), QString("Button1"));
    press(Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), mrOk);
    QFile conf(dir.filePath("my.conf"));
    QVERIFY(conf.open(QIODevice::ReadOnly));
    QCOMPARE(conf.readAll(), QByteArray("2\n"));
    QCOMPARE(tintrava::HardwareRow, 2);
    tintrava::setConfigDirectory(QString());
}

void TestKeyboard::hardwareDialogEnterOnCancel()
{
    m_window.close();
    QTemporaryDir dir;
    tintrava::setConfigDirectory(dir.path());
    TForm2 dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    press(Qt::Key_Down);
    QCOMPARE(dialog.itemIndex(), 1);
    dialog.Button2->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), mrCancel);
    QVERIFY(!QFile::exists(dir.filePath("my.conf")));
    tintrava::setConfigDirectory(QString());
}

QTEST_MAIN(TestKeyboard)
#include "test_keyboard.moc"
