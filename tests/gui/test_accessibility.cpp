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
    void grid();
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
    const QStringList headers = {"FarbNr", "Bezeichnung", "Minuten"};
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(table->columnDescription(c), headers[c]);
        QAccessibleInterface *cell = table->cellAt(0, c);
        QVERIFY(cell && cell->tableCellInterface());
        const QList<QAccessibleInterface *> header = cell->tableCellInterface()->columnHeaderCells();
        QCOMPARE(header.size(), 1);
        QCOMPARE(header[0]->text(QAccessible::Name), headers[c]);
    }
    // The header stays hidden: the grid looks as before.
    QVERIFY(!f.StringGrid1->horizontalHeader()->isVisible());

    f.addcolor(4);
    f.addcolor(1);
    f.addcolor(2);
    QCOMPARE(table->rowCount(), 4);
    QCOMPARE(table->cellAt(2, 1)->text(QAccessible::Name), QString("Rot"));
    QCOMPARE(table->selectedRows(), QList<int>{1});
    recorded().clear();
    f.StringGrid1->setFocus(Qt::TabFocusReason);
    QTest::keyClick(f.StringGrid1, Qt::Key_End);
    QCOMPARE(table->selectedRows(), QList<int>{3});
    QCOMPARE(table->selectedRowCount(), 1);
    QVERIFY(table->cellAt(3, 0)->state().selected);
    QVERIFY(!table->cellAt(1, 0)->state().selected);
    // The move is announced.
    CHECK_EVENTS(countEvents(f.StringGrid1, QAccessible::SelectionAdd)
                     + countEvents(f.StringGrid1, QAccessible::Selection) > 0);
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
