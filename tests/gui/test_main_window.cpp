// Form1: layout, palette, the editing buttons and grid on the real widgets,
// the pop-up menu, the timers and the UI side of starting and stopping a run.
#include <QtTest>

#include <QAction>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

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
#include "sequence/sequence_rules.h"

namespace {

// Centre of a grid row in viewport coordinates.
QPoint rowPoint(TStringGrid *grid, int row)
{
    return QPoint(30, grid->rowViewportPosition(row) + grid->rowHeight(row) / 2);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void window();
    void layout_data();
    void layout();
    void overlay();
    void initialState();
    void palette_data();
    void palette();
    void getnrOfOtherComponents();
    void doubleClickAddsOneRow_data();
    void doubleClickAddsOneRow();
    void rightClickAddsNothing();
    void wavelengthPanelAsks();
    void editingButtons();
    void gridSelectionByMouse();
    void gridDoubleClickEditsSelectedRow_data();
    void gridDoubleClickEditsSelectedRow();
    void popupMenuOnLabel();
    void discoveryTimer();
    void startAndStop();
    void startWithEmptyList();
    void realBoxes();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindowFixture m_window;
    QString m_fontFamily;
};

void TestMainWindow::initTestCase()
{
    m_fontFamily = tintrava::setupFonts();
}

// A shown main window whose start-up check found a valid "my.conf".
void TestMainWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    tintrava::testing::fakeD2xx().reset();
    tintrava::testing::fakeD2xx().install();
    m_window.open(m_dir->path(), "1\n");
}

void TestMainWindow::cleanup()
{
    if (m_window.dialogs)
        QVERIFY2(m_window.dialogs->scriptDone(), "an expected input box did not come");
    m_window.close();
    m_dir.reset();
}

void TestMainWindow::window()
{
    TForm1 &f = *m_window.form;
    QCOMPARE(f.windowTitle(), QString("Tintrava V.1.50"));
    QCOMPARE(f.size(), QSize(702, 480));
    QCOMPARE(f.minimumSize(), QSize(702, 480));
    QCOMPARE(f.maximumSize(), QSize(702, 480));
    QVERIFY(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(f.font().family(), QString(tintrava::DialogFontFamily));
    QCOMPARE(f.font().pointSize(), 8);
    // "MS Sans Serif" is drawn with whatever setupFonts settled on.
    QCOMPARE(QFontInfo(f.font()).family(), m_fontFamily);
}

void TestMainWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("place"); // width/height -1: sized to the text
    QTest::addColumn<QString>("text");
    QTest::newRow("Label2") << "Label2" << "Form1" << QRect(16, 400, -1, -1) << "Farbe anklicken um diese in die";
    QTest::newRow("Label7") << "Label7" << "Form1" << QRect(16, 416, -1, -1) << "Liste zu übernehmen";
    QTest::newRow("Label3") << "Label3" << "Form1" << QRect(248, 24, -1, -1) << "eingestellte Tintrava";
    QTest::newRow("StringGrid1") << "StringGrid1" << "Form1" << QRect(248, 40, 289, 305) << "";
    QTest::newRow("Label6") << "Label6" << "Form1" << QRect(256, 352, -1, -1)
                            << "Zeile doppelt anklicken um Zeit direkt einzugeben";
    QTest::newRow("Panel25") << "Panel25" << "Form1" << QRect(561, 0, 141, 480) << "";
    QTest::newRow("GroupBox1") << "GroupBox1" << "Panel25" << QRect(8, 16, 121, 145) << "Bei ausgewählter Zeile:";
    QTest::newRow("Button1") << "Button1" << "GroupBox1" << QRect(24, 24, 75, 25) << "Zeile löschen";
    QTest::newRow("Button2") << "Button2" << "GroupBox1" << QRect(24, 64, 75, 25) << "Minuten +";
    QTest::newRow("Button3") << "Button3" << "GroupBox1" << QRect(24, 104, 75, 25) << "Minuten -";
    QTest::newRow("Button5") << "Button5" << "Panel25" << QRect(24, 192, 83, 25) << "Abfolge starten";
    QTest::newRow("Label1") << "Label1" << "Panel25" << QRect(40, 344, -1, -1) << "Verbindung:";
    QTest::newRow("ComboBox1") << "ComboBox1" << "Panel25" << QRect(16, 360, 121, -1) << "keine Verbindung";
    QTest::newRow("Panel27") << "Panel27" << "Form1" << QRect(0, 0, 561, 480) << "Abfolge aktiv";
    QTest::newRow("Label4") << "Label4" << "Panel27" << QRect(50, 40, -1, -1) << "";
    QTest::newRow("Label9") << "Label9" << "Panel27" << QRect(50, 88, -1, -1) << "";
    QTest::newRow("Button4") << "Button4" << "Panel27" << QRect(438, 368, 75, 25) << "Abbrechen";
}

void TestMainWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, place);
    QFETCH(QString, text);

    auto *w = m_window.form->findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->parentWidget()->objectName(), parent);
    QCOMPARE(w->pos(), place.topLeft());
    if (place.width() >= 0)
        QCOMPARE(w->width(), place.width());
    if (place.height() >= 0)
        QCOMPARE(w->height(), place.height());
    // Nothing sticks out of its container.
    QVERIFY2(w->parentWidget()->rect().contains(w->geometry()), qPrintable(name));

    QString shown;
    if (auto *label = qobject_cast<QLabel *>(w))
        shown = label->text();
    else if (auto *button = qobject_cast<QPushButton *>(w))
        shown = button->text();
    else if (auto *box = qobject_cast<QGroupBox *>(w))
        shown = box->title();
    else if (auto *combo = qobject_cast<QComboBox *>(w))
        shown = combo->currentText();
    QCOMPARE(shown, text);
    // Texts are not cut off.
    if (!text.isEmpty() && (qobject_cast<QLabel *>(w) || qobject_cast<QPushButton *>(w)))
        QVERIFY2(w->width() >= w->fontMetrics().horizontalAdvance(text), qPrintable(name));
}

void TestMainWindow::overlay()
{
    TForm1 &f = *m_window.form;
    QVERIFY(!f.Panel27->isVisible());
    QCOMPARE(f.Panel27->color(), QColor(0, 255, 0));
    QVERIFY(f.Panel27->font().bold());
    QCOMPARE(f.Panel27->font().pointSize(), 18);
    QVERIFY(f.Label4->font().bold());
    QVERIFY(f.Label9->font().bold());
    QVERIFY(!f.Button4->font().bold());
    QCOMPARE(f.Button4->font().pointSize(), 8);
    // The remaining-time texts fit their labels, even with all the hours of
    // the longest step.
    for (QLabel *label : {f.Label4, f.Label9})
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance("Restdauer dieser Farbe: 35791394:07:00"));
}

void TestMainWindow::initialState()
{
    TForm1 &f = *m_window.form;
    QCOMPARE(rowsOf(f.grid()), QStringList{Header});
    QCOMPARE(f.grid().fixedRows(), 0);
    QCOMPARE(f.StringGrid1->columnCount(), 3);
    QCOMPARE(f.StringGrid1->columnWidth(0), 65);
    QCOMPARE(f.StringGrid1->columnWidth(1), 142);
    QCOMPARE(f.StringGrid1->columnWidth(2), 64);
    QVERIFY(f.StringGrid1->showGrid());
    QCOMPARE(f.StringGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(f.StringGrid1->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(f.StringGrid1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    QCOMPARE(f.ComboBox1->count(), 2);
    QCOMPARE(f.ComboBox1->itemText(0), QString("keine Verbindung"));
    QCOMPARE(f.ComboBox1->itemText(1), QString("USB"));
    QCOMPARE(f.ComboBox1->currentIndex(), 0);
    QVERIFY(!f.ComboBox1->isEnabled());

    QCOMPARE(f.Timer1->interval(), 1000);
    QVERIFY(!f.Timer1->isActive());
    QCOMPARE(f.Timer2->interval(), 1000);
    QVERIFY(f.Timer2->isActive());
    for (QPushButton *b : {f.Button1, f.Button2, f.Button3, f.Button5})
        QVERIFY(b->isEnabled());
    // "Harware anpassen", then after a separator the sequence file entries.
    QStringList menu;
    for (const QAction *a : f.PopupMenu1->actions())
        menu << (a->isSeparator() ? QString("-") : a->text());
    QCOMPARE(menu, (QStringList{"Harware anpassen", "-", "Abfolge öffnen…", "Abfolge speichern…",
                                "Letzte Abfolge laden"}));
    QCOMPARE(f.PopupMenu1->actions().constFirst(), f.Harwareanpassen1);
}

void TestMainWindow::palette_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("top");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("number");
    QTest::addColumn<QColor>("colour"); // invalid: the window face colour
    QTest::addColumn<bool>("white");
    QTest::newRow("Weiß") << "Panel8" << 16 << "Weiß" << 4 << QColor(255, 255, 255) << false;
    QTest::newRow("Rosa") << "Panel14" << 48 << "Rosa" << 9 << QColor(255, 90, 140) << false;
    QTest::newRow("Magenta") << "Panel15" << 80 << "Magenta" << 10 << QColor(255, 0, 134) << false;
    QTest::newRow("Violett") << "Panel11" << 112 << "Violett" << 7 << QColor(124, 0, 158) << true;
    QTest::newRow("Indigo") << "Panel12" << 144 << "Indigo" << 12 << QColor(40, 11, 53) << true;
    QTest::newRow("Blau") << "Panel7" << 176 << "Blau" << 3 << QColor(0, 0, 255) << true;
    QTest::newRow("Türkis") << "Panel10" << 208 << "Türkis" << 6 << QColor(0, 255, 236) << false;
    QTest::newRow("Grün") << "Panel6" << 240 << "Grün" << 2 << QColor(0, 255, 0) << false;
    QTest::newRow("Gelb") << "Panel13" << 272 << "Gelb" << 8 << QColor(255, 175, 0) << false;
    QTest::newRow("Orange") << "Panel9" << 304 << "Orange" << 5 << QColor(255, 88, 0) << false;
    QTest::newRow("Rot") << "Panel5" << 336 << "Rot" << 1 << QColor(255, 0, 0) << false;
    QTest::newRow("Wellenlänge") << "Panel16" << 368 << "Wellenlängen-Angabe" << 13 << QColor() << false;
}

void TestMainWindow::palette()
{
    QFETCH(QString, name);
    QFETCH(int, top);
    QFETCH(QString, caption);
    QFETCH(int, number);
    QFETCH(QColor, colour);
    QFETCH(bool, white);

    TForm1 &f = *m_window.form;
    auto *panel = f.findChild<TPanel *>(name);
    QVERIFY(panel);
    QCOMPARE(panel->geometry(), QRect(16, top, 209, 25));
    QCOMPARE(panel->caption(), caption);
    QCOMPARE(panel->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(panel->color(), colour.isValid() ? colour : f.palette().color(QPalette::Button));
    QCOMPARE(panel->fontColor(), white ? QColor(Qt::white) : f.palette().color(QPalette::WindowText));
    QCOMPARE(f.getnr(panel), number);
    QCOMPARE(f.paletteEntry(number), panel);

    // A click appends the colour; the wavelength entry asks first.
    if (number == tintrava::ColourWavelength)
        m_window.dialogs->answer("550");
    QTest::mouseClick(panel, Qt::LeftButton);
    const QString name1 = number == tintrava::ColourWavelength ? QString("550 nm") : caption;
    QCOMPARE(rowsOf(f.grid()), (QStringList{Header, QString::number(number) + "|" + name1 + "|1"}));
    QCOMPARE(f.grid().selectedRow(), 1);
    QCOMPARE(f.grid().fixedRows(), 1);
}

void TestMainWindow::getnrOfOtherComponents()
{
    TForm1 &f = *m_window.form;
    QCOMPARE(f.getnr(f.Button1), 0);
    QCOMPARE(f.getnr(f.Panel25), 0);
    QCOMPARE(f.getnr(f.Panel27), 0);
    QCOMPARE(f.getnr(nullptr), 0);
    QCOMPARE(f.paletteEntry(11), nullptr);
}

void TestMainWindow::doubleClickAddsOneRow_data()
{
    QTest::addColumn<bool>("throughWindow");
    QTest::newRow("widget events") << false;
    QTest::newRow("window system events") << true;
}

void TestMainWindow::doubleClickAddsOneRow()
{
    QFETCH(bool, throughWindow);
    TForm1 &f = *m_window.form;
    const QPoint inPanel(100, 12);
    if (throughWindow)
        QTest::mouseDClick(f.windowHandle(), Qt::LeftButton, {}, f.Panel9->mapTo(&f, inPanel));
    else {
        // What a widget gets from a real double-click: press, release,
        // double-click, release.
        QTest::mouseClick(f.Panel9, Qt::LeftButton, {}, inPanel);
        QTest::mouseDClick(f.Panel9, Qt::LeftButton, {}, inPanel);
        QTest::mouseRelease(f.Panel9, Qt::LeftButton, {}, inPanel);
    }
    QCOMPARE(rowsOf(f.grid()), (QStringList{Header, "5|Orange|1"}));
}

void TestMainWindow::rightClickAddsNothing()
{
    TForm1 &f = *m_window.form;
    QTest::mouseClick(f.Panel5, Qt::RightButton);
    QTest::mouseClick(f.windowHandle(), Qt::RightButton, {}, f.Panel5->mapTo(&f, QPoint(50, 12)));
    QTest::mouseDClick(f.Panel5, Qt::RightButton);
    // Pressed on one panel, released outside it: no click either.
    QTest::mousePress(f.Panel6, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(f.Panel6, Qt::LeftButton, {}, QPoint(5, 60));
    QCOMPARE(rowsOf(f.grid()), QStringList{Header});
}

void TestMainWindow::wavelengthPanelAsks()
{
    TForm1 &f = *m_window.form;
    m_window.dialogs->answer("389");
    m_window.dialogs->answer("$190");
    QTest::mouseClick(f.Panel16, Qt::LeftButton);
    QTest::mouseClick(f.Panel16, Qt::LeftButton);
    QCOMPARE(rowsOf(f.grid()), (QStringList{Header, "13|$190 nm|1"}));
    QCOMPARE(m_window.dialogs->messages(),
             std::vector<std::string>{"Eingegebener Wert ausserhalb des möglichen Bereiches (390-750nm)"});
}

// The buttons act on the selected row of the real grid.
void TestMainWindow::editingButtons()
{
    TForm1 &f = *m_window.form;
    for (TPanel *p : {f.Panel5, f.Panel6, f.Panel7})
        QTest::mouseClick(p, Qt::LeftButton);
    f.grid().setSelectedRow(2);
    QTest::mouseClick(f.Button2, Qt::LeftButton);
    QTest::mouseClick(f.Button2, Qt::LeftButton);
    QTest::mouseClick(f.Button3, Qt::LeftButton);
    QCOMPARE(rowsOf(f.grid()), (QStringList{Header, "1|Rot|1", "2|Grün|2", "3|Blau|1"}));
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    QCOMPARE(rowsOf(f.grid()), (QStringList{Header, "1|Rot|1", "3|Blau|1"}));
    QCOMPARE(f.grid().selectedRow(), 2);
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    QCOMPARE(rowsOf(f.grid()), QStringList{Header});
    QCOMPARE(f.grid().selectedRow(), 0);
    QVERIFY(m_window.dialogs->shown().empty());
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    QCOMPARE(m_window.dialogs->messages(),
             std::vector<std::string>{"Es sind keine Farben in der Liste. Deshalb kann keine gelöscht werden können."});
}

void TestMainWindow::gridSelectionByMouse()
{
    TForm1 &f = *m_window.form;
    TStringGrid *grid = f.StringGrid1;
    // With only the header, it is the selected row.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowPoint(grid, 0));
    QCOMPARE(grid->selectedRow(), 0);

    for (TPanel *p : {f.Panel5, f.Panel6, f.Panel7})
        QTest::mouseClick(p, Qt::LeftButton);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowPoint(grid, 3));
    QCOMPARE(grid->selectedRow(), 3);
    // The fixed header, the empty space below and a Ctrl-click leave it alone.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowPoint(grid, 0));
    QCOMPARE(grid->selectedRow(), 3);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(30, grid->viewport()->height() - 5));
    QCOMPARE(grid->selectedRow(), 3);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(grid, 3));
    QCOMPARE(grid->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(grid->selectionModel()->selectedRows().first().row(), 3);
    // Keys do not reach the header either.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(grid, Qt::Key_Up);
    QCOMPARE(grid->selectedRow(), 1);
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(grid->selectedRow(), 2);
    QCOMPARE(grid->selectionModel()->selectedRows().size(), 1);
}

void TestMainWindow::gridDoubleClickEditsSelectedRow_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("on the selected row") << "selected";
    QTest::newRow("on the header") << "header";
    QTest::newRow("below the last row") << "below";
}

void TestMainWindow::gridDoubleClickEditsSelectedRow()
{
    QFETCH(QString, where);
    TForm1 &f = *m_window.form;
    TStringGrid *grid = f.StringGrid1;
    for (TPanel *p : {f.Panel5, f.Panel6, f.Panel7})
        QTest::mouseClick(p, Qt::LeftButton);
    f.grid().setCell(2, 2, "4");
    f.grid().setSelectedRow(2);
    QPoint at = rowPoint(grid, 2);
    if (where == "header")
        at = rowPoint(grid, 0);
    else if (where == "below")
        at = QPoint(30, grid->viewport()->height() - 5);

    m_window.dialogs->answer("12");
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(m_window.dialogs->inputs().size(), size_t(1));
    QCOMPARE(m_window.dialogs->inputs()[0].defaultText, std::string("4"));
    QCOMPARE(rowsOf(f.grid()), (QStringList{Header, "1|Rot|1", "2|Grün|12", "3|Blau|1"}));
    QVERIFY(!grid->isPersistentEditorOpen(grid->currentIndex()));
    QVERIFY(grid->indexWidget(grid->currentIndex()) == nullptr);
}

void TestMainWindow::popupMenuOnLabel()
{
    TForm1 &f = *m_window.form;
    // A right-click on the label, as the window system delivers it.
    QTest::mouseClick(f.windowHandle(), Qt::RightButton, {}, f.Label1->mapTo(&f, QPoint(5, 5)));
    QTRY_VERIFY(f.PopupMenu1->isVisible());

    ModalPoller poller;
    poller.expect("Form2", [](QWidget *w) { return qobject_cast<TForm2 *>(w) ? QStringList() : QStringList{ModalPoller::describe(w)}; },
                  [](QWidget *w) { QTest::mouseClick(static_cast<TForm2 *>(w)->Button2, Qt::LeftButton); });
    const QRect item = f.PopupMenu1->actionGeometry(f.Harwareanpassen1);
    QTest::mouseClick(f.PopupMenu1, Qt::LeftButton, {}, item.center());
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(poller.answered(), 1);
    QTRY_VERIFY(!f.PopupMenu1->isVisible());
}

void TestMainWindow::discoveryTimer()
{
    TForm1 &f = *m_window.form;
    auto &fake = tintrava::testing::fakeD2xx();
    const auto counts = [&] { return int(fake.callList().count("ListDevices(NUMBER_ONLY)")); };
    fake.devices = {{"Sela-Lumen", "VL1"}};
    fake.clearLog();
    f.Timer2Timer();
    QCOMPARE(counts(), 1);
    QCOMPARE(f.ComboBox1->currentText(), QString("USB"));
    // The timer itself drives it.
    QTRY_VERIFY_WITH_TIMEOUT(counts() >= 2, 10000);

    // While a sequence plays, discovery waits for the lamp commands.
    f.Timer2->stop();
    fake.clearLog();
    f.Timer1->start();
    f.Timer2Timer();
    QCOMPARE(counts(), 0);
    f.Timer1->stop();
    fake.devices.clear();
    f.Timer2Timer();
    QCOMPARE(counts(), 1);
    QCOMPARE(f.ComboBox1->currentText(), QString("keine Verbindung"));
}

void TestMainWindow::startAndStop()
{
    TForm1 &f = *m_window.form;
    auto &fake = tintrava::testing::fakeD2xx();
    fake.devices = {{"Sela-Lumen", "VL1"}};
    fake.responder = [](const std::string &) { return std::string("OK\r\n"); };
    double clock = 45000.5;
    f.hooks.now = [&] { return clock; };
    f.hooks.sleep = [](int) {};
    QTest::mouseClick(f.Panel5, Qt::LeftButton);
    fake.clearLog();

    QTest::mouseClick(f.Button5, Qt::LeftButton);
    QVERIFY(f.Panel27->isVisible());
    QVERIFY(f.Timer1->isActive());
    for (QPushButton *b : {f.Button1, f.Button2, f.Button3, f.Button5})
        QVERIFY(!b->isEnabled());
    // The overlay covers palette and grid but not the right-hand panel.
    QVERIFY(f.Panel27->geometry().contains(f.StringGrid1->geometry()));
    QVERIFY(f.Panel27->geometry().contains(f.Panel16->geometry()));
    QVERIFY(!f.Panel27->geometry().intersects(f.Panel25->geometry()));
    QCOMPARE(f.childAt(f.Panel5->geometry().center()), f.Panel27);
    // Nothing goes to the lamp before the first tick.
    QVERIFY(fake.writes.empty());

    clock += 1.0 / 86400;
    QTRY_VERIFY_WITH_TIMEOUT(!fake.writes.empty(), 10000);
    // Row 1 of the colour table (my.conf holds 1): Rot, after the probe.
    QCOMPARE(fake.writes.at(0), std::string("VER\r\n"));
    QCOMPARE(fake.writes.at(1), std::string("CFF0000\r\n"));
    QCOMPARE(f.Label4->text(), QString("Restdauer dieser Farbe: 00:01:00"));
    QCOMPARE(f.Label9->text(), QString("Gesamtrestdauer: 00:01:00"));

    fake.writes.clear();
    QTest::mouseClick(f.Button4, Qt::LeftButton);
    QVERIFY(!f.Panel27->isVisible());
    QVERIFY(!f.Timer1->isActive());
    for (QPushButton *b : {f.Button1, f.Button2, f.Button3, f.Button5})
        QVERIFY(b->isEnabled());
    // Off at once; grid and labels stay as they were.
    QCOMPARE(fake.writes, std::vector<std::string>{"C000000\r\n"});
    QCOMPARE(rowsOf(f.grid()), (QStringList{Header, "1|Rot|1"}));
    QCOMPARE(f.Label4->text(), QString("Restdauer dieser Farbe: 00:01:00"));
    QVERIFY(m_window.dialogs->shown().empty());
}

void TestMainWindow::startWithEmptyList()
{
    TForm1 &f = *m_window.form;
    auto &fake = tintrava::testing::fakeD2xx();
    fake.devices = {{"Sela-Lumen", "VL1"}};
    QTest::mouseClick(f.Button5, Qt::LeftButton);
    QCOMPARE(m_window.dialogs->messages(), std::vector<std::string>{"Es sind keine Farben für die Abfolge ausgewählt"});
    QVERIFY(!f.Panel27->isVisible());
    QVERIFY(!f.Timer1->isActive());
    QVERIFY(f.Button5->isEnabled());
    QVERIFY(fake.writes.empty());
}

// The same clicks with the real boxes, answered through the poller.
void TestMainWindow::realBoxes()
{
    TForm1 &f = *m_window.form;
    f.setDialogs(nullptr);
    const QString caption = "Wellenlänge", prompt = "Bitte gewünschte Wellenlänge eingeben (390-750)";
    ModalPoller poller;
    poller.expectInput(caption, prompt, "", QStringLiteral("550"));
    poller.expectInput(caption, prompt, "", std::nullopt);
    poller.expectInput(caption, prompt, "", QStringLiteral("abc"));
    poller.expectMessage("eingegebener Wert ist ungültig");
    poller.expectInput("Zeit ändern", "Bitte geben Sie eine neue Zeit ein (Minuten)", "1", QStringLiteral("05"));
    poller.expectMessage("Bitte geben Sie einen gültigen Zahlenwert ein");
    poller.expectInput("Zeit ändern", "Bitte geben Sie eine neue Zeit ein (Minuten)", "1", QStringLiteral("30"));
    poller.expectMessage("Es sind keine Farben für die Abfolge ausgewählt");
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(f.Panel16, Qt::LeftButton);
    QTest::mouseDClick(f.StringGrid1->viewport(), Qt::LeftButton, {}, rowPoint(f.StringGrid1, 1));
    QTest::mouseDClick(f.StringGrid1->viewport(), Qt::LeftButton, {}, rowPoint(f.StringGrid1, 1));
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    QCOMPARE(rowsOf(f.grid()), QStringList{Header});
    QTest::mouseClick(f.Button5, Qt::LeftButton);
    QVERIFY2(poller.finish(), qPrintable(poller.report()));
    QCOMPARE(poller.answered(), 8);
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
