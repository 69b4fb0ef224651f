// The editing rules on both grids: the one in memory that the player tests
// use and the window's StringGrid1. Both must keep the same selection rules.
#include <QtTest>

#include <memory>

#include "support/fake_dialogs.h"
#include "support/grid_rows.h"
#include "support/memory_grid.h"
#include "sequence/sequence_rules.h"
#include "ui/string_grid.h"

using namespace tintrava;

namespace {

using Steps = std::vector<std::array<std::string, 3>>;

std::unique_ptr<SequenceGrid> makeGrid(const QString &kind)
{
    std::unique_ptr<SequenceGrid> grid;
    if (kind == QLatin1String("memory"))
        grid = std::make_unique<MemoryGrid>();
    else
        grid = std::make_unique<TStringGrid>();
    grid->setCell(0, 0, "FarbNr");
    grid->setCell(1, 0, "Bezeichnung");
    grid->setCell(2, 0, "Minuten");
    return grid;
}

// A grid holding the header and the given steps, built the way the palette does.
std::unique_ptr<SequenceGrid> makeGrid(const QString &kind, const Steps &steps)
{
    auto grid = makeGrid(kind);
    for (const auto &s : steps) {
        appendStep(*grid, std::stoi(s[0]), s[1]);
        grid->setCell(2, grid->rowCount() - 1, s[2]);
    }
    return grid;
}

QStringList toQt(const std::vector<std::string> &texts)
{
    QStringList out;
    for (const auto &t : texts)
        out << QString::fromStdString(t);
    return out;
}

const Steps ThreeSteps = {{"1", "Rot", "1"}, {"2", "Grün", "5"}, {"13", "550 nm", "2"}};

} // namespace

class TestSequenceRules : public QObject {
    Q_OBJECT

    // Adds a "kind" column and runs every row on both grids.
    template <typename F>
    static void forBothGrids(F addRows)
    {
        for (const char *kind : {"memory", "widget"})
            addRows(QString::fromLatin1(kind));
    }

private slots:
    void paletteColour_data();
    void paletteColour();
    void wavelength_data();
    void wavelength();
    void firstAppendSelectsFirstStep_data() { kinds(); }
    void firstAppendSelectsFirstStep();
    void laterAppendsKeepSelection_data() { kinds(); }
    void laterAppendsKeepSelection();
    void deleteStep_data();
    void deleteStep();
    void deleteLastStepUnfixesHeader_data() { kinds(); }
    void deleteLastStepUnfixesHeader();
    void deleteWithOnlyHeader_data() { kinds(); }
    void deleteWithOnlyHeader();
    void plusMinus_data();
    void plusMinus();
    void editMinutes_data();
    void editMinutes();
    void editMinutesOnHeaderDoesNothing_data() { kinds(); }
    void editMinutesOnHeaderDoesNothing();

private:
    static void kinds()
    {
        QTest::addColumn<QString>("kind");
        forBothGrids([](const QString &kind) { QTest::newRow(qPrintable(kind)) << kind; });
    }
};

void TestSequenceRules::paletteColour_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("row"); // empty: nothing appended
    forBothGrids([](const QString &kind) {
        auto row = [&](const char *tag) { return &QTest::newRow(qPrintable(kind + ": " + tag)); };
        *row("Rot") << kind << 1 << "Rot" << "1|Rot|1";
        *row("Weiß") << kind << 4 << "Weiß" << "4|Weiß|1";
        *row("Magenta") << kind << 10 << "Magenta" << "10|Magenta|1";
        *row("Indigo") << kind << 12 << "Indigo" << "12|Indigo|1";
        *row("no caption") << kind << 7 << "" << "7|Farbe 7|1";
        *row("off is not a step") << kind << 11 << "Aus" << "";
        *row("zero") << kind << 0 << "x" << "";
        *row("above 13") << kind << 14 << "x" << "";
        *row("negative") << kind << -1 << "x" << "";
    });
}

void TestSequenceRules::paletteColour()
{
    QFETCH(QString, kind);
    QFETCH(int, number);
    QFETCH(QString, caption);
    QFETCH(QString, row);

    auto grid = makeGrid(kind);
    FakeDialogs dialogs;
    addcolor(*grid, dialogs, number, caption.toStdString());

    QVERIFY(dialogs.shown().empty());
    if (row.isEmpty()) {
        QCOMPARE(grid->rowCount(), 1);
        QCOMPARE(grid->fixedRows(), 0);
    } else {
        QCOMPARE(rowsOf(*grid), (QStringList{"FarbNr|Bezeichnung|Minuten", row}));
        QCOMPARE(grid->fixedRows(), 1);
    }
}

void TestSequenceRules::wavelength_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("row");     // appended row, empty for none
    QTest::addColumn<QString>("message"); // message shown, empty for none
    const QString invalid = QString::fromUtf8(texts::WavelengthInvalid);
    const QString range = QString::fromUtf8(texts::WavelengthOutOfRange);
    forBothGrids([&](const QString &kind) {
        auto row = [&](const char *tag) { return &QTest::newRow(qPrintable(kind + ": " + tag)); };
        *row("empty") << kind << false << "" << "" << "";
        *row("cancel") << kind << true << "" << "" << "";
        *row("-1") << kind << false << "-1" << "" << "";
        *row("hex -1") << kind << false << "$FFFFFFFF" << "" << "";
        *row("-2") << kind << false << "-2" << "" << invalid;
        *row("letters") << kind << false << "abc" << "" << invalid;
        *row("trailing blank") << kind << false << "550 " << "" << invalid;
        *row("389") << kind << false << "389" << "" << range;
        *row("751") << kind << false << "751" << "" << range;
        *row("0") << kind << false << "0" << "" << range;
        *row("390") << kind << false << "390" << "13|390 nm|1" << "";
        *row("750") << kind << false << "750" << "13|750 nm|1" << "";
        *row("hex 400 keeps its text") << kind << false << "$190" << "13|$190 nm|1" << "";
        *row("leading zero") << kind << false << "0400" << "13|0400 nm|1" << "";
        *row("leading blank") << kind << false << " 550" << "13| 550 nm|1" << "";
    });
}

void TestSequenceRules::wavelength()
{
    QFETCH(QString, kind);
    QFETCH(bool, cancel);
    QFETCH(QString, typed);
    QFETCH(QString, row);
    QFETCH(QString, message);

    auto grid = makeGrid(kind, {{"1", "Rot", "1"}});
    FakeDialogs dialogs;
    if (cancel)
        dialogs.cancel();
    else
        dialogs.answer(typed.toStdString());
    addcolor(*grid, dialogs, ColourWavelength, "Wellenlängen-Angabe");

    QVERIFY(dialogs.scriptDone());
    const auto inputs = dialogs.inputs();
    QCOMPARE(inputs.size(), size_t(1));
    QCOMPARE(inputs[0].caption, std::string("Wellenlänge"));
    QCOMPARE(inputs[0].prompt, std::string("Bitte gewünschte Wellenlänge eingeben (390-750)"));
    QCOMPARE(inputs[0].defaultText, std::string());

    QStringList expected{"FarbNr|Bezeichnung|Minuten", "1|Rot|1"};
    if (!row.isEmpty())
        expected << row;
    QCOMPARE(rowsOf(*grid), expected);
    QCOMPARE(toQt(dialogs.messages()), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(grid->selectedRow(), 1);
}

void TestSequenceRules::firstAppendSelectsFirstStep()
{
    QFETCH(QString, kind);
    auto grid = makeGrid(kind);
    QCOMPARE(grid->selectedRow(), 0);
    QCOMPARE(grid->fixedRows(), 0);
    appendStep(*grid, 3, "Blau");
    QCOMPARE(grid->fixedRows(), 1);
    QCOMPARE(grid->selectedRow(), 1);
    // The header cannot be selected while it is fixed.
    grid->setSelectedRow(0);
    QCOMPARE(grid->selectedRow(), 1);
}

void TestSequenceRules::laterAppendsKeepSelection()
{
    QFETCH(QString, kind);
    auto grid = makeGrid(kind, ThreeSteps);
    QCOMPARE(grid->selectedRow(), 1);
    grid->setSelectedRow(2);
    appendStep(*grid, 5, "Orange");
    QCOMPARE(grid->selectedRow(), 2);
    QCOMPARE(grid->rowCount(), 5);
    grid->setSelectedRow(4);
    appendStep(*grid, 6, "Türkis");
    QCOMPARE(grid->selectedRow(), 4);
}

void TestSequenceRules::deleteStep_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("selectedAfter");
    forBothGrids([](const QString &kind) {
        auto row = [&](const char *tag) { return &QTest::newRow(qPrintable(kind + ": " + tag)); };
        *row("first") << kind << 1 << QStringList{"FarbNr|Bezeichnung|Minuten", "2|Grün|5", "13|550 nm|2"} << 1;
        *row("middle") << kind << 2 << QStringList{"FarbNr|Bezeichnung|Minuten", "1|Rot|1", "13|550 nm|2"} << 2;
        // The selection cannot stay past the end: it moves to the new last row.
        *row("last") << kind << 3 << QStringList{"FarbNr|Bezeichnung|Minuten", "1|Rot|1", "2|Grün|5"} << 2;
    });
}

void TestSequenceRules::deleteStep()
{
    QFETCH(QString, kind);
    QFETCH(int, selected);
    QFETCH(QStringList, rows);
    QFETCH(int, selectedAfter);

    auto grid = makeGrid(kind, ThreeSteps);
    grid->setSelectedRow(selected);
    QCOMPARE(grid->selectedRow(), selected);
    FakeDialogs dialogs;
    deleteSelectedStep(*grid, dialogs);
    QVERIFY(dialogs.shown().empty());
    QCOMPARE(rowsOf(*grid), rows);
    QCOMPARE(grid->selectedRow(), selectedAfter);
    QCOMPARE(grid->fixedRows(), 1);
}

void TestSequenceRules::deleteLastStepUnfixesHeader()
{
    QFETCH(QString, kind);
    auto grid = makeGrid(kind, {{"1", "Rot", "1"}});
    FakeDialogs dialogs;
    deleteSelectedStep(*grid, dialogs);
    QCOMPARE(rowsOf(*grid), QStringList{"FarbNr|Bezeichnung|Minuten"});
    QCOMPARE(grid->fixedRows(), 0);
    QCOMPARE(grid->selectedRow(), 0);

    // With only the header left, the minute buttons leave it alone.
    minutesPlus(*grid);
    minutesMinus(*grid);
    QCOMPARE(rowsOf(*grid), QStringList{"FarbNr|Bezeichnung|Minuten"});

    // The next colour fixes the header again and selects the new step.
    appendStep(*grid, 2, "Grün");
    QCOMPARE(grid->fixedRows(), 1);
    QCOMPARE(grid->selectedRow(), 1);
}

void TestSequenceRules::deleteWithOnlyHeader()
{
    QFETCH(QString, kind);
    auto grid = makeGrid(kind);
    FakeDialogs dialogs;
    deleteSelectedStep(*grid, dialogs);
    QCOMPARE(toQt(dialogs.messages()),
             QStringList{"Es sind keine Farben in der Liste. Deshalb kann keine gelöscht werden können."});
    QCOMPARE(grid->rowCount(), 1);
    QCOMPARE(grid->cell(0, 0), std::string("FarbNr"));
}

void TestSequenceRules::plusMinus_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("plus");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    forBothGrids([](const QString &kind) {
        auto row = [&](const char *tag) { return &QTest::newRow(qPrintable(kind + ": " + tag)); };
        *row("plus 1") << kind << true << "1" << "2";
        *row("plus 0") << kind << true << "0" << "1";
        *row("plus negative") << kind << true << "-5" << "-4";
        *row("plus not a number counts as 1") << kind << true << "abc" << "2";
        *row("plus at the largest stays") << kind << true << "2147483647" << "2147483647";
        *row("plus below the largest") << kind << true << "2147483646" << "2147483647";
        *row("minus 2") << kind << false << "2" << "1";
        *row("minus 100") << kind << false << "100" << "99";
        *row("minus 1 stays") << kind << false << "1" << "1";
        *row("minus 0 stays") << kind << false << "0" << "0";
        *row("minus negative stays") << kind << false << "-3" << "-3";
        *row("minus not a number stays") << kind << false << "abc" << "abc";
    });
}

void TestSequenceRules::plusMinus()
{
    QFETCH(QString, kind);
    QFETCH(bool, plus);
    QFETCH(QString, before);
    QFETCH(QString, after);

    auto grid = makeGrid(kind, {{"1", "Rot", "7"}, {"2", "Grün", before.toStdString()}, {"3", "Blau", "9"}});
    grid->setSelectedRow(2);
    if (plus)
        minutesPlus(*grid);
    else
        minutesMinus(*grid);
    QCOMPARE(rowsOf(*grid),
             (QStringList{"FarbNr|Bezeichnung|Minuten", "1|Rot|7", "2|Grün|" + after, "3|Blau|9"}));
    QCOMPARE(grid->selectedRow(), 2);
}

void TestSequenceRules::editMinutes_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    forBothGrids([](const QString &kind) {
        auto row = [&](const char *tag) { return &QTest::newRow(qPrintable(kind + ": " + tag)); };
        *row("cancel") << kind << true << "" << false;
        *row("42") << kind << false << "42" << true;
        *row("0") << kind << false << "0" << true;
        *row("-5") << kind << false << "-5" << true;
        *row("largest") << kind << false << "2147483647" << true;
        *row("05") << kind << false << "05" << false;
        *row("+5") << kind << false << "+5" << false;
        *row("leading blank") << kind << false << " 5" << false;
        *row("trailing blank") << kind << false << "5 " << false;
        *row("letters") << kind << false << "abc" << false;
        *row("empty") << kind << false << "" << false;
        *row("hex") << kind << false << "$5" << false;
        *row("-0") << kind << false << "-0" << false;
        *row("too large") << kind << false << "2147483648" << false;
    });
}

void TestSequenceRules::editMinutes()
{
    QFETCH(QString, kind);
    QFETCH(bool, cancel);
    QFETCH(QString, typed);
    QFETCH(bool, accepted);

    auto grid = makeGrid(kind, {{"1", "Rot", "7"}, {"2", "Grün", "3"}});
    grid->setSelectedRow(2);
    FakeDialogs dialogs;
    if (cancel)
        dialogs.cancel();
    else
        dialogs.answer(typed.toStdString());
    tintrava::editMinutes(*grid, dialogs);

    const auto inputs = dialogs.inputs();
    QCOMPARE(inputs.size(), size_t(1));
    QCOMPARE(inputs[0].caption, std::string("Zeit ändern"));
    QCOMPARE(inputs[0].prompt, std::string("Bitte geben Sie eine neue Zeit ein (Minuten)"));
    QCOMPARE(inputs[0].defaultText, std::string("3"));

    const QString minutes = accepted ? typed : QStringLiteral("3");
    QCOMPARE(rowsOf(*grid), (QStringList{"FarbNr|Bezeichnung|Minuten", "1|Rot|7", "2|Grün|" + minutes}));
    const bool rejected = !accepted && !cancel;
    QCOMPARE(toQt(dialogs.messages()),
             rejected ? QStringList{"Bitte geben Sie einen gültigen Zahlenwert ein"} : QStringList());
}

void TestSequenceRules::editMinutesOnHeaderDoesNothing()
{
    QFETCH(QString, kind);
    auto grid = makeGrid(kind);
    FakeDialogs dialogs;
    tintrava::editMinutes(*grid, dialogs);
    QVERIFY(dialogs.shown().empty());
    QCOMPARE(grid->cell(2, 0), std::string("Minuten"));
}

QTEST_MAIN(TestSequenceRules)
#include "test_sequence_rules.moc"
