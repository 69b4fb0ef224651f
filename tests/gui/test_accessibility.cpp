// What a screen reader gets from the main window: the palette entries as push
// buttons with a working Press action, the grid as a table with its column
// headers and selected row, the connection indicator with name, value and a
// change event, and the overlay's texts while playing with their events.
#include <QtTest>

#include <QAccessible>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>

#ifdef TINTRAVA_HAVE_QT_GUI_PRIVATE
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>
#endif

#include "ui/accessibility.h"
#include "ui/fonts.h"
#include "lamp/lampstate.h"
#include "support/fake_d2xx.h"
#include "support/fake_dialogs.h"
#include "support/grid_rows.h"
#include "support/main_window_fixture.h"
#include "ui/main_window.h"

namespace {

struct Recorded {
    QPointer<QObject> object;
    QAccessible::Event type;
    QString value; // ValueChanged only
};

std::vector<Recorded> &recorded()
{
    static std::vector<Recorded> events;
    return events;
}

void recordEvent(QAccessibleEvent *event)
{
    QString value;
    if (event->type() == QAccessible::ValueChanged)
        value = static_cast<QAccessibleValueChangeEvent *>(event)->value().toString();
    recorded().push_back({event->object(), event->type(), value});
}

int countEvents(QObject *object, QAccessible::Event type, const QString &value = QString())
{
    int n = 0;
    for (const Recorded &r : recorded())
        if (r.object == object && r.type == type && (value.isNull() || r.value == value))
            ++n;
    return n;
}

// Events are checked where Qt delivers them (see initTestCase); eventsDelivered
// reports it as skipped where it does not.
#define CHECK_EVENTS(cond)                                                                          \
    do {                                                                                            \
        if (m_eventsDelivered)                                                                      \
            QVERIFY(cond);                                                                          \
    } while (false)

const QString AddsColour = QStringLiteral("Fügt diese Farbe am Ende der Liste hinzu");
const QString AsksWavelength =
    QStringLiteral("Fragt nach einer Wellenlänge und fügt sie am Ende der Liste hinzu");

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void eventsDelivered();
    void paletteButtons_data();
    void paletteButtons();
    void mainWindow();
    void otherPanelsStayText();
    void panelChangesKind_data();
    void panelChangesKind();
    void grid();
    void notices_data();
    void notices();
    void indicator();
    void playing();

private:
    TForm1 &form() { return *m_window.form; }
    bool m_eventsDelivered = false;
    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindowFixture m_window;
};

void TestAccessibility::initTestCase()
{
    tintrava::setupFonts();
    // Like a screen reader listening from the start: interfaces are made as
    // the widgets are built, events are delivered.
    QAccessible::installUpdateHandler(recordEvent);
#ifdef TINTRAVA_HAVE_QT_GUI_PRIVATE
    // What an assistive technology's bridge does when it connects; without
    // it Qt delivers no events at all.
    if (QPlatformAccessibility *platform = QGuiApplicationPrivate::platformIntegration()->accessibility())
        platform->setActive(true);
#endif
    m_eventsDelivered = QAccessible::isActive();
}

void TestAccessibility::eventsDelivered()
{
    if (!m_eventsDelivered)
        QSKIP("Qt's accessibility could not be switched on here (Debian: qt6-base-private-dev); "
              "events are not checked");
}

void TestAccessibility::cleanupTestCase()
{
    QAccessible::installUpdateHandler(nullptr);
}

void TestAccessibility::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    tintrava::testing::fakeD2xx().reset();
    tintrava::testing::fakeD2xx().install();
    m_window.open(m_dir->path(), "1\n");
    recorded().clear();
}

void TestAccessibility::cleanup()
{
    if (m_window.dialogs)
        QVERIFY2(m_window.dialogs->scriptDone(), "an expected input box did not come");
    m_window.close();
    m_dir.reset();
    recorded().clear();
}

void TestAccessibility::paletteButtons_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("row");
    const char *const entries[][3] = {
        {"Panel8", "Weiß", "4"},     {"Panel14", "Rosa", "9"},   {"Panel15", "Magenta", "10"},
        {"Panel11", "Violett", "7"}, {"Panel12", "Indigo", "12"}, {"Panel7", "Blau", "3"},
        {"Panel10", "Türkis", "6"},  {"Panel6", "Grün", "2"},    {"Panel13", "Gelb", "8"},
        {"Panel9", "Orange", "5"},   {"Panel5", "Rot", "1"},
    };
    for (const auto &e : entries)
        QTest::newRow(e[1]) << e[0] << QString::fromUtf8(e[1])
                            << QStringLiteral("%1|%2|1").arg(e[2], QString::fromUtf8(e[1]));
    QTest::newRow("Wellenlängen-Angabe") << "Panel16" << "Wellenlängen-Angabe" << "13|550 nm|1";
}

void TestAccessibility::paletteButtons()
{
    QFETCH(QString, panel);
    QFETCH(QString, name);
    QFETCH(QString, row);
    auto *p = form().findChild<TPanel *>(panel);
    QVERIFY(p);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(p);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::Button);
    QCOMPARE(iface->text(QAccessible::Name), name);
    QCOMPARE(iface->text(QAccessible::Description), panel == "Panel16" ? AsksWavelength : AddsColour);
    QVERIFY(iface->state().focusable);
    QVERIFY(!iface->state().disabled);
    QCOMPARE(iface->parent()->object(), &form());

    QAccessibleActionInterface *actions = iface->actionInterface();
    QVERIFY(actions);
    QCOMPARE(actions->actionNames().value(0), QAccessibleActionInterface::pressAction());
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::setFocusAction()));
    if (panel == "Panel16")
        m_window.dialogs->answer("550");
    actions->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(rowsOf(form().grid()), (QStringList{"FarbNr|Bezeichnung|Minuten", row}));

    actions->doAction(QAccessibleActionInterface::setFocusAction());
    QVERIFY(p->hasFocus());
    QVERIFY(iface->state().focused);
}

void TestAccessibility::mainWindow()
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&form());
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::Window);
    QCOMPARE(iface->text(QAccessible::Name), QString("Tintrava V.1.50"));
    // The palette comes first among its children, in its order.
    QCOMPARE(iface->child(0)->object(), form().Panel8);
    QCOMPARE(iface->child(11)->object(), form().Panel16);
}

void TestAccessibility::otherPanelsStayText()
{
    for (TPanel *p : {form().Panel25, form().Panel27}) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(p);
        QVERIFY(iface);
        QVERIFY(iface->role() != QAccessible::Button);
        QVERIFY(!iface->actionInterface()
                || !iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(form().Panel27)->text(QAccessible::Name), QString("Abfolge aktiv"));
}

void TestAccessibility::panelChangesKind_data()
{
    QTest::addColumn<bool>("before");
    QTest::addColumn<bool>("after");
    QTest::newRow("text, then button") << false << true;
    QTest::newRow("button, then text") << true << false;
}

// A screen reader that already has a panel's interface gets the new kind
// when the panel changes it; one never asked for is left to be made later.
void TestAccessibility::panelChangesKind()
{
    QFETCH(bool, before);
    QFETCH(bool, after);
    TPanel panel(QStringLiteral("Probe"), &form());
    panel.setKeyboardButton(before);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&panel);
    QVERIFY(iface);
    QCOMPARE(iface->role() == QAccessible::Button, before);
    panel.setKeyboardButton(after);
    iface = QAccessible::queryAccessibleInterface(&panel);
    QVERIFY(iface);
    QCOMPARE(iface->role() == QAccessible::Button, after);

    TPanel unasked(QStringLiteral("Unasked"), &form());
    unasked.setKeyboardButton(after);
    QVERIFY(QAccessible::queryAccessibleInterface(&unasked));
    QCOMPARE(QAccessible::queryAccessibleInterface(&unasked)->role() == QAccessible::Button, after);
}

void TestAccessibility::grid()
{
    TForm1 &f = form();
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(f.StringGrid1);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::Table);
    QCOMPARE(iface->text(QAccessible::Name), QString("eingestellte Tintrava"));
    QAccessibleTableInterface *table = iface->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->columnCount(), 3);
    // No steps: an empty table; the header row is no row of it.
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(!table->cellAt(0, 0));
    const QStringList headers = {"FarbNr", "Bezeichnung", "Minuten"};
    for (int c = 0; c < 3; ++c)
        QCOMPARE(table->columnDescription(c), headers[c]);
    // The header stays hidden: the grid looks as before.
    QVERIFY(!f.StringGrid1->horizontalHeader()->isVisible());

    f.Panel8->setFocus(Qt::TabFocusReason);
    recorded().clear();
    f.addcolor(4);
    f.addcolor(1);
    f.addcolor(2);
    // The rows as the user counts them: the first step is row 0 of three.
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(table->cellAt(0, 1)->text(QAccessible::Name), QString("Weiß"));
    QCOMPARE(table->cellAt(1, 1)->text(QAccessible::Name), QString("Rot"));
    QVERIFY(!table->cellAt(3, 0));
    for (int c = 0; c < 3; ++c) {
        QAccessibleInterface *cell = table->cellAt(0, c);
        QVERIFY(cell && cell->tableCellInterface());
        QCOMPARE(cell->role(), QAccessible::Cell);
        QCOMPARE(cell->tableCellInterface()->rowIndex(), 0);
        QCOMPARE(cell->tableCellInterface()->columnIndex(), c);
        const QList<QAccessibleInterface *> header = cell->tableCellInterface()->columnHeaderCells();
        QCOMPARE(header.size(), 1);
        QCOMPARE(header[0]->role(), QAccessible::ColumnHeader);
        QCOMPARE(header[0]->text(QAccessible::Name), headers[c]);
        QVERIFY(!header[0]->tableCellInterface());
    }
    // Children and their indexes agree, header cells included, each once.
    QCOMPARE(iface->childCount(), 12);
    QSet<QAccessibleInterface *> children;
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface *child = iface->child(i);
        QVERIFY(child);
        QCOMPARE(iface->indexOfChild(child), i);
        QCOMPARE(child->parent(), iface);
        children.insert(child);
    }
    QCOMPARE(children.size(), 12);
    QCOMPARE(iface->child(0), table->cellAt(0, 0));
    QCOMPARE(table->selectedRows(), QList<int>{0});

    // The keyboard stayed on the palette: no cell has or announced the focus.
    QVERIFY(f.Panel8->hasFocus());
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            QVERIFY(!table->cellAt(r, c)->state().focused);
    QVERIFY(!iface->focusChild());
    CHECK_EVENTS(countEvents(f.StringGrid1, QAccessible::Focus) == 0);

    f.StringGrid1->setFocus(Qt::TabFocusReason);
    QVERIFY(table->cellAt(0, 0)->state().focused);
    QCOMPARE(iface->focusChild(), table->cellAt(0, 0));
    recorded().clear();
    QTest::keyClick(f.StringGrid1, Qt::Key_End);
    QCOMPARE(table->selectedRows(), QList<int>{2});
    QCOMPARE(table->selectedRowCount(), 1);
    QVERIFY(table->cellAt(2, 0)->state().selected);
    QVERIFY(table->cellAt(2, 0)->state().focused);
    QVERIFY(!table->cellAt(0, 0)->state().selected);
    QVERIFY(!table->cellAt(0, 0)->state().focused);
    // The move is announced on the cell the table reports.
    CHECK_EVENTS(countEvents(f.StringGrid1, QAccessible::SelectionAdd) > 0);
    CHECK_EVENTS(countEvents(f.StringGrid1, QAccessible::Focus) == 1);
    QCOMPARE(iface->child(f.StringGrid1->accessibleChildIndex(3, 0)), table->cellAt(2, 0));

    // A screen reader choosing a row picks a step, never the header.
    QVERIFY(table->selectRow(1));
    QCOMPARE(f.grid().selectedRow(), 2);
    QVERIFY(!table->selectRow(3));
    QVERIFY(!table->selectRow(-1));

    // Deleting steps leaves no cell for places that are gone.
    QAccessibleInterface *last = table->cellAt(2, 1);
    QTest::keyClick(f.StringGrid1, Qt::Key_End);
    QTest::keyClick(f.StringGrid1, Qt::Key_Delete);
    QCOMPARE(table->rowCount(), 2);
    QVERIFY(!table->cellAt(2, 1));
    QVERIFY(last != table->cellAt(1, 1) || last->isValid());
}

void TestAccessibility::notices_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("said");
    QTest::newRow("first colour") << "add Weiß" << "Weiß hinzugefügt, 1 Schritt";
    QTest::newRow("third colour") << "add Weiß, Rot, Grün" << "Grün hinzugefügt, 3 Schritte";
    QTest::newRow("wavelength") << "add 550" << "550 nm hinzugefügt, 1 Schritt";
    QTest::newRow("wavelength cancelled") << "add cancelled wavelength" << "";
    QTest::newRow("row deleted") << "delete Rot" << "Rot gelöscht, 1 Schritt";
    QTest::newRow("last row deleted") << "delete only step" << "Weiß gelöscht, 0 Schritte";
    QTest::newRow("nothing to delete") << "delete nothing" << "";
    QTest::newRow("minutes +") << "minutes +" << "Rot: 2 Minuten";
    QTest::newRow("minutes -") << "minutes - from 2" << "Rot: 1 Minute";
    QTest::newRow("minutes - at 1") << "minutes - at 1" << "";
    QTest::newRow("time set") << "time 0" << "Rot: 0 Minuten";
    QTest::newRow("time unchanged") << "time cancelled" << "";
}

// Every edit is confirmed by a notice that appears with the text to say; a
// cancelled or impossible edit says nothing.
void TestAccessibility::notices()
{
    QFETCH(QString, action);
    QFETCH(QString, said);
    TForm1 &f = form();
    QVERIFY(f.Notice);
    QAccessibleInterface *notice = QAccessible::queryAccessibleInterface(f.Notice);
    QVERIFY(notice);
    QCOMPARE(notice->role(), QAccessible::Notification);
    QVERIFY(!f.Notice->isVisible() || f.Notice->size().isEmpty());

    auto &dialogs = *m_window.dialogs;
    QString before = f.Notice->text();
    recorded().clear();
    if (action == "add Weiß") {
        f.Panel8->click();
    } else if (action == "add Weiß, Rot, Grün") {
        f.addcolor(4), f.addcolor(1), f.addcolor(2);
    } else if (action == "add 550") {
        dialogs.answer("550");
        f.Panel16->click();
    } else if (action == "add cancelled wavelength") {
        dialogs.cancel();
        f.Panel16->click();
    } else if (action == "delete Rot") {
        f.addcolor(4), f.addcolor(1);
        f.grid().setSelectedRow(2);
    } else if (action == "delete only step") {
        f.addcolor(4);
    } else if (action == "delete nothing") {
        // The grid is empty.
    } else {
        f.addcolor(1);
        if (action == "minutes - from 2") {
            f.Button2->click();
        } else if (action == "time 0") {
            dialogs.answer("0");
        } else if (action == "time cancelled") {
            dialogs.cancel();
        }
    }
    if (!action.startsWith("add")) {
        recorded().clear();
        before = f.Notice->text();
    }
    if (action.startsWith("delete"))
        f.Button1->click();
    else if (action == "minutes +")
        f.Button2->click();
    else if (action.startsWith("minutes -"))
        f.Button3->click();
    else if (action.startsWith("time"))
        f.StringGrid1DblClick();

    if (said.isEmpty()) {
        QCOMPARE(f.Notice->text(), before);
        CHECK_EVENTS(countEvents(f.Notice, QAccessible::ObjectShow) == 0);
        return;
    }
    QCOMPARE(f.Notice->text(), said);
    QCOMPARE(notice->text(QAccessible::Name), said);
    // What a screen reader announces: the notice appearing.
    CHECK_EVENTS(countEvents(f.Notice, QAccessible::ObjectShow) >= 1);
    // Nothing of it on the screen, and never the keyboard's.
    QVERIFY(f.Notice->size().isEmpty());
    QCOMPARE(f.Notice->focusPolicy(), Qt::NoFocus);
}

void TestAccessibility::indicator()
{
    TForm1 &f = form();
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(f.ComboBox1);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::ComboBox);
    QCOMPARE(iface->text(QAccessible::Name), QString("Verbindung"));
    QCOMPARE(iface->text(QAccessible::Value), QString("keine Verbindung"));
    QVERIFY(iface->textInterface());
    QCOMPARE(iface->textInterface()->text(0, iface->textInterface()->characterCount()), QString("keine Verbindung"));
    QVERIFY(iface->state().readOnly);
    QVERIFY(!iface->state().focusable);
    QVERIFY(!f.ComboBox1->isEnabled()); // still display-only for the mouse

    auto &fake = tintrava::testing::fakeD2xx();
    fake.devices = {{"Sela-Lumen", "VL1"}};
    f.Timer2Timer();
    QCOMPARE(iface->text(QAccessible::Value), QString("USB"));
    QCOMPARE(iface->textInterface()->text(0, 3), QString("USB"));
    QCOMPARE(iface->text(QAccessible::Name), QString("Verbindung"));
    CHECK_EVENTS(countEvents(f.ComboBox1, QAccessible::ValueChanged, "USB") == 1);
    // No flip, no event.
    f.Timer2Timer();
    CHECK_EVENTS(countEvents(f.ComboBox1, QAccessible::ValueChanged) == 1);

    fake.devices.clear();
    f.Timer2Timer();
    QCOMPARE(iface->text(QAccessible::Value), QString("keine Verbindung"));
    CHECK_EVENTS(countEvents(f.ComboBox1, QAccessible::ValueChanged, "keine Verbindung") == 1);
}

void TestAccessibility::playing()
{
    TForm1 &f = form();
    auto &fake = tintrava::testing::fakeD2xx();
    fake.devices = {{"Sela-Lumen", "VL1"}};
    fake.responder = [](const std::string &) { return std::string("OK\r\n"); };
    double clock = 45000.5;
    f.hooks.now = [&] { return clock; };
    f.hooks.sleep = [](int) {};
    f.addcolor(5);
    f.addcolor(6);

    QTest::keyClick(f.Panel8, Qt::Key_F5);
    QAccessibleInterface *overlay = QAccessible::queryAccessibleInterface(f.Panel27);
    QVERIFY(!overlay->state().invisible);
    QCOMPARE(overlay->text(QAccessible::Name), QString("Abfolge aktiv"));
    QAccessibleInterface *cancel = QAccessible::queryAccessibleInterface(f.Button4);
    QVERIFY(cancel->state().focused);
    // Covered by the overlay: no Press on the palette meanwhile.
    QAccessibleInterface *entry = QAccessible::queryAccessibleInterface(f.Panel8);
    QVERIFY(entry->state().disabled);
    entry->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(f.grid().rowCount(), 3);

    recorded().clear();
    clock += 1.0 / 86400;
    f.Timer1Timer();
    for (QLabel *label : {f.Label4, f.Label9}) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(label);
        QVERIFY(!iface->state().invisible);
        QCOMPARE(iface->text(QAccessible::Name), label->text());
        QVERIFY(!label->text().isEmpty());
        CHECK_EVENTS(countEvents(label, QAccessible::NameChanged) == 1);
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(f.Label9)->text(QAccessible::Name),
             QString("Gesamtrestdauer: 00:02:00"));
    clock += 1.0 / 86400;
    f.Timer1Timer();
    CHECK_EVENTS(countEvents(f.Label4, QAccessible::NameChanged) == 2);
    QCOMPARE(QAccessible::queryAccessibleInterface(f.Label4)->text(QAccessible::Name),
             QString("Restdauer dieser Farbe: 00:00:59"));

    QTest::keyClick(f.Button4, Qt::Key_Escape);
    QVERIFY(overlay->state().invisible);
    QVERIFY(!entry->state().disabled);
}

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
