// Sequence files: what is written byte for byte, what is read back, and every
// way a file is refused, with the line the error box names.
#include <QtTest>

#include "support/fake_dialogs.h"
#include "support/memory_grid.h"
#include "sequence/sequence_file.h"
#include "sequence/sequence_rules.h"

using tintrava::SequenceStep;
using Steps = std::vector<SequenceStep>;

Q_DECLARE_METATYPE(Steps)

namespace {

const std::string Bom = "\xEF\xBB\xBF";
const std::string Header = "FarbNr;Bezeichnung;Minuten";

QString show(const Steps &steps)
{
    QStringList rows;
    for (const auto &s : steps)
        rows << QString("%1|%2|%3").arg(s.number).arg(QString::fromStdString(s.name)).arg(s.minutes);
    return rows.join(", ");
}

} // namespace

class TestSequenceFile : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::newRow("empty") << Steps{};
        QTest::newRow("palette") << Steps{{4, "Weiß", 1}, {6, "Türkis", 10}, {12, "Indigo", 3}, {2, "Grün", 7}};
        QTest::newRow("wavelength spellings")
            << Steps{{13, "$190 nm", 1}, {13, " 500 nm", 2}, {13, "+500 nm", 3}, {13, "0x1F4 nm", 4}};
        QTest::newRow("minutes at the edges")
            << Steps{{1, "Rot", 0}, {1, "Rot", -5}, {1, "Rot", 2147483647}, {1, "Rot", -2147483647 - 1}};
    }
    void roundTrip()
    {
        QFETCH(Steps, steps);
        const auto parsed = tintrava::readSequenceFile(tintrava::writeSequenceFile(steps));
        QVERIFY2(parsed.ok, parsed.error.c_str());
        QCOMPARE(show(parsed.steps), show(steps));
    }

    void writtenForm()
    {
        const std::string bytes = tintrava::writeSequenceFile({{5, "Orange", 10}, {13, "442 nm", 5}});
        QCOMPARE(QByteArray::fromStdString(bytes),
                 QByteArray("\xEF\xBB\xBF" "FarbNr;Bezeichnung;Minuten\r\n5;Orange;10\r\n13;442 nm;5\r\n"));
    }

    // A name with a separator, quote or line end is quoted, quotes doubled.
    void fieldsThatNeedQuotes()
    {
        const Steps steps{{13, "a;b", 1}, {13, "say \"x\"", 1}, {13, "two\r\nlines", 1}};
        const std::string bytes = tintrava::writeSequenceFile(steps);
        QVERIFY(bytes.find("13;\"a;b\";1\r\n") != std::string::npos);
        QVERIFY(bytes.find("13;\"say \"\"x\"\"\";1\r\n") != std::string::npos);
        QVERIFY(bytes.find("13;\"two\r\nlines\";1\r\n") != std::string::npos);
    }

    void accepted_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("steps");
        QTest::newRow("LF, no BOM") << QByteArray("FarbNr;Bezeichnung;Minuten\n5;Orange;10\n13;442 nm;5\n")
                                    << "5|Orange|10, 13|442 nm|5";
        QTest::newRow("no line end after the last row")
            << QByteArray("\xEF\xBB\xBF" "FarbNr;Bezeichnung;Minuten\r\n1;Rot;2") << "1|Rot|2";
        QTest::newRow("blank lines at the end") << QByteArray("FarbNr;Bezeichnung;Minuten\r\n1;Rot;2\r\n\r\n\n")
                                                << "1|Rot|2";
        // A name edited by hand may differ in case, blanks around it and
        // umlauts spelt out; the step carries the palette's caption.
        QTest::newRow("palette name as typed by hand")
            << QByteArray("FarbNr;Bezeichnung;Minuten\n4;WEISS;1\n$2;Gruen;1\n6; türkis ;1\n1;\"ROT\";1\n"
                          "12;INDIGO;1\n4;WEIẞ;1\n")
            << "4|Weiß|1, 2|Grün|1, 6|Türkis|1, 1|Rot|1, 12|Indigo|1, 4|Weiß|1";
        QTest::newRow("quoted fields") << QByteArray("FarbNr;Bezeichnung;Minuten\n\"13\";\"550 nm\";\"5\"\n")
                                       << "13|550 nm|5";
        QTest::newRow("header only") << QByteArray("FarbNr;Bezeichnung;Minuten\r\n") << "";
        // What LibreOffice Calc writes with "quote all text cells": text quoted,
        // numbers bare, LF; Excel's "CSV UTF-8" has a BOM and CR LF.
        QTest::newRow("text cells quoted, LF")
            << QByteArray("\"FarbNr\";\"Bezeichnung\";\"Minuten\"\n5;\"Orange\";10\n13;\"442 nm\";5\n")
            << "5|Orange|10, 13|442 nm|5";
        QTest::newRow("text cells quoted, BOM, CR LF")
            << QByteArray("\xEF\xBB\xBF\"FarbNr\";\"Bezeichnung\";\"Minuten\"\r\n6;\"Türkis\";3\r\n")
            << "6|Türkis|3";
        QTest::newRow("every field quoted")
            << QByteArray("\"FarbNr\";\"Bezeichnung\";\"Minuten\"\r\n\"5\";\"Orange\";\"10\"\r\n") << "5|Orange|10";
        QTest::newRow("some header fields quoted")
            << QByteArray("FarbNr;\"Bezeichnung\";Minuten\n1;Rot;1\n") << "1|Rot|1";
        QTest::newRow("empty rows at the end") << QByteArray("FarbNr;Bezeichnung;Minuten\n1;Rot;2\n;;\n\"\";;\n")
                                               << "1|Rot|2";
    }
    void accepted()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, steps);
        const auto parsed = tintrava::readSequenceFile(bytes.toStdString());
        QVERIFY2(parsed.ok, parsed.error.c_str());
        QCOMPARE(show(parsed.steps), steps);
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("error");
        const QByteArray h = "FarbNr;Bezeichnung;Minuten\r\n";
        QTest::newRow("empty file") << QByteArray() << 1 << "Zeile 1: die erste Zeile muss „FarbNr;Bezeichnung;Minuten“ lauten";
        QTest::newRow("header wrong") << QByteArray("Farbe;Name;Minuten\r\n1;Rot;1\r\n") << 1
                                      << "Zeile 1: die erste Zeile muss „FarbNr;Bezeichnung;Minuten“ lauten";
        QTest::newRow("two fields") << h + "1;Rot;1\r\n1;Rot\r\n" << 3 << "Zeile 3: 2 Felder statt 3";
        QTest::newRow("four fields") << h + "1;Rot;1;x\r\n" << 2 << "Zeile 2: 4 Felder statt 3";
        QTest::newRow("blank line inside") << h + "\r\n1;Rot;1\r\n" << 2 << "Zeile 2: 1 Feld statt 3";
        QTest::newRow("colour 11") << h + "11;aus;1\r\n" << 2 << "Zeile 2: unbekannte Farbnummer „11“";
        QTest::newRow("colour 14") << h + "1;Rot;1\r\n2;Grün;1\r\n5;Orange;1\r\n14;x;1\r\n" << 5
                                   << "Zeile 5: unbekannte Farbnummer „14“";
        QTest::newRow("colour x") << h + "x;Rot;1\r\n" << 2 << "Zeile 2: unbekannte Farbnummer „x“";
        QTest::newRow("colour 0") << h + "0;Rot;1\r\n" << 2 << "Zeile 2: unbekannte Farbnummer „0“";
        // Number and name disagree: either may be what was meant.
        QTest::newRow("number and name of two colours") << h + "3;Magenta;1\r\n" << 2
            << "Zeile 2: Farbnummer „3“ (Blau) passt nicht zur Bezeichnung „Magenta“";
        QTest::newRow("name no colour has") << h + "1;Rot;1\r\n$4;whatever;1\r\n" << 3
            << "Zeile 3: Farbnummer „$4“ (Weiß) passt nicht zur Bezeichnung „whatever“";
        QTest::newRow("name missing") << h + "7;;1\r\n" << 2
            << "Zeile 2: Farbnummer „7“ (Violett) passt nicht zur Bezeichnung „“";
        QTest::newRow("wavelength name on a palette colour") << h + "5;442 nm;1\r\n" << 2
            << "Zeile 2: Farbnummer „5“ (Orange) passt nicht zur Bezeichnung „442 nm“";
        QTest::newRow("name with more after it") << h + "1;Rot 2;1\r\n" << 2
            << "Zeile 2: Farbnummer „1“ (Rot) passt nicht zur Bezeichnung „Rot 2“";
        QTest::newRow("wavelength 389") << h + "13;389 nm;1\r\n" << 2
                                        << "Zeile 2: ungültige Wellenlängen-Angabe „389 nm“ (erwartet: 390 bis 750 gefolgt von „ nm“)";
        QTest::newRow("wavelength 751") << h + "13;751 nm;1\r\n" << 2
                                        << "Zeile 2: ungültige Wellenlängen-Angabe „751 nm“ (erwartet: 390 bis 750 gefolgt von „ nm“)";
        QTest::newRow("wavelength without nm") << h + "13;500;1\r\n" << 2
                                               << "Zeile 2: ungültige Wellenlängen-Angabe „500“ (erwartet: 390 bis 750 gefolgt von „ nm“)";
        QTest::newRow("wavelength longer than the box takes")
            << h + "13;" + QByteArray(300, ' ') + "500 nm;1\r\n" << 2 << "";
        QTest::newRow("minutes 05") << h + "1;Rot;05\r\n" << 2 << "Zeile 2: ungültige Minutenzahl „05“";
        QTest::newRow("minutes +5") << h + "1;Rot;+5\r\n" << 2 << "Zeile 2: ungültige Minutenzahl „+5“";
        QTest::newRow("minutes 2147483648") << h + "1;Rot;2147483648\r\n" << 2
                                            << "Zeile 2: ungültige Minutenzahl „2147483648“";
        QTest::newRow("minutes empty") << h + "1;Rot;\r\n" << 2 << "Zeile 2: ungültige Minutenzahl „“";
        const QString advice = " Bitte als CSV mit Semikolon als Trennzeichen und UTF-8 speichern.";
        QTest::newRow("invalid UTF-8") << h + "1;Rot;1\r\n4;Wei\xDF;1\r\n" << 3
                                       << "Zeile 3: kein gültiger UTF-8-Text." + advice;
        QTest::newRow("overlong UTF-8") << h + "1;\xC0\xAF;1\r\n" << 2 << "Zeile 2: kein gültiger UTF-8-Text." + advice;
        QTest::newRow("Windows-1252") << h + "6;T\xFCrkis;1\r\n" << 2 << "Zeile 2: kein gültiger UTF-8-Text." + advice;
        QTest::newRow("comma-separated") << QByteArray("FarbNr,Bezeichnung,Minuten\r\n5,Orange,10\r\n") << 1
                                         << "Zeile 1: die Felder sind durch Kommas getrennt." + advice;
        QTest::newRow("comma-separated, text quoted")
            << QByteArray("\xEF\xBB\xBF\"FarbNr\",\"Bezeichnung\",\"Minuten\"\n5,\"Orange\",10\n") << 1
            << "Zeile 1: die Felder sind durch Kommas getrennt." + advice;
        QTest::newRow("header as one quoted field") << QByteArray("\"FarbNr;Bezeichnung;Minuten\"\r\n1;Rot;1\r\n") << 1
                                                    << "Zeile 1: die erste Zeile muss „FarbNr;Bezeichnung;Minuten“ lauten";
        QTest::newRow("header with a fourth field") << QByteArray("FarbNr;Bezeichnung;Minuten;\r\n1;Rot;1\r\n") << 1
                                                    << "Zeile 1: die erste Zeile muss „FarbNr;Bezeichnung;Minuten“ lauten";
        QTest::newRow("header quote not closed") << QByteArray("\"FarbNr;Bezeichnung;Minuten\r\n1;Rot;1\r\n") << 1
                                                 << "Zeile 1: Anführungszeichen nicht geschlossen";
        QTest::newRow("comma in a name is no comma file")
            << QByteArray("FarbNr;Bezeichnung;Minuten\r\n13;500,5 nm;1\r\n") << 2
            << "Zeile 2: ungültige Wellenlängen-Angabe „500,5 nm“ (erwartet: 390 bis 750 gefolgt von „ nm“)";
        QTest::newRow("empty row inside") << h + ";;\r\n1;Rot;1\r\n" << 2 << "Zeile 2: unbekannte Farbnummer „“";
        QTest::newRow("unclosed quote") << h + "1;\"Rot;1\r\n" << 2 << "Zeile 2: Anführungszeichen nicht geschlossen";
        QTest::newRow("quote inside a field") << h + "1;R\"ot;1\r\n" << 2 << "Zeile 2: Anführungszeichen mitten im Feld";
        QTest::newRow("text after a closing quote") << h + "1;\"Rot\"x;1\r\n" << 2
                                                    << "Zeile 2: Text nach schließendem Anführungszeichen";
        QTest::newRow("lone CR") << h + "1;Rot;1\r2;Grün;1\r\n" << 2 << "Zeile 2: Wagenrücklauf ohne Zeilenvorschub";
        QTest::newRow("a quoted line end counts its lines") << h + "13;\"a\nb\"x;1\r\n1;Rot;1\r\n" << 3
                                                            << "Zeile 3: Text nach schließendem Anführungszeichen";
        QTest::newRow("a step over two lines is named by its first")
            << h + "4;\"Wei\nß\";1\r\n" << 2 << "Zeile 2: Farbnummer „4“ (Weiß) passt nicht zur Bezeichnung „Wei\nß“";
        QTest::newRow("over the size limit") << h + QByteArray(qsizetype(tintrava::SequenceFileLimit), '\n') << 0
                                             << "Die Datei ist größer als 64 MiB";
        QByteArray many = h;
        for (int i = 0; i <= tintrava::MaxSequenceSteps; ++i)
            many += "1;Rot;1\r\n";
        QTest::newRow("one step too many") << many << tintrava::MaxSequenceSteps + 2
                                           << "Zeile 200002: mehr als 200.000 Schritte";
    }
    void refused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, line);
        QFETCH(QString, error);
        const auto parsed = tintrava::readSequenceFile(bytes.toStdString());
        QVERIFY(!parsed.ok);
        QVERIFY(parsed.steps.empty());
        QCOMPARE(parsed.line, line);
        if (!error.isEmpty())
            QCOMPARE(QString::fromStdString(parsed.error), error);
        else
            QVERIFY(QString::fromStdString(parsed.error).startsWith(QString("Zeile %1: ").arg(line)));
    }

    // A file of exactly the limit gets past the size check (and fails on
    // its first byte here, which keeps the test quick); one byte more does not.
    void exactlyTheLimitIsLookedAt()
    {
        std::string bytes = "\xFF" + Header + "\r\n";
        bytes.append(tintrava::SequenceFileLimit - bytes.size(), '\n');
        QCOMPARE(QString::fromStdString(tintrava::readSequenceFile(bytes).error),
                 QString("Zeile 1: kein gültiger UTF-8-Text. Bitte als CSV mit Semikolon als Trennzeichen und UTF-8 speichern."));
        bytes += '\n';
        QCOMPARE(QString::fromStdString(tintrava::readSequenceFile(bytes).error),
                 QString("Die Datei ist größer als 64 MiB"));
    }

    // The biggest sequence the editor lets a user build, of the longest
    // steps it makes, is written within the limit and read back whole; the
    // editor takes no step more.
    void largestSequenceReadsBack()
    {
        MemoryGrid grid;
        FakeDialogs dialogs;
        for (int i = 0; i < tintrava::MaxSequenceSteps; ++i)
            tintrava::appendStep(grid, 13, std::string(tintrava::MaxAnswerLength - 3, ' ') + "500 nm");
        for (int row = 1; row < grid.rowCount(); ++row)
            grid.setCell(2, row, "-2147483648");
        tintrava::addcolor(grid, dialogs, 1, "Rot");
        dialogs.answer("500");
        tintrava::addcolor(grid, dialogs, 13, "");
        QCOMPARE(grid.rowCount() - 1, tintrava::MaxSequenceSteps);
        QCOMPARE(dialogs.messages(), (std::vector<std::string>(2, tintrava::texts::SequenceFull)));
        QVERIFY(!dialogs.scriptDone()); // the wavelength was not asked for
        dialogs.clear();

        const Steps steps = tintrava::stepsOfGrid(grid);
        const std::string bytes = tintrava::writeSequenceFile(steps);
        QVERIFY2(bytes.size() <= tintrava::SequenceFileLimit, qPrintable(QString::number(bytes.size())));
        const auto parsed = tintrava::readSequenceFile(bytes);
        QVERIFY2(parsed.ok, parsed.error.c_str());
        QVERIFY(parsed.steps == steps);
    }

    // Out of the grid and back: the selection lands on the first step.
    void gridRoundTrip()
    {
        MemoryGrid grid({{"2", "Grün", "3"}, {"13", "$190 nm", "-5"}});
        grid.setSelectedRow(2);
        const Steps steps = tintrava::stepsOfGrid(grid);
        QCOMPARE(show(steps), QString("2|Grün|3, 13|$190 nm|-5"));

        MemoryGrid other({{"1", "Rot", "1"}, {"1", "Rot", "1"}, {"1", "Rot", "1"}});
        other.setSelectedRow(3);
        tintrava::putStepsInGrid(other, steps);
        QCOMPARE(other.rows(), (std::vector<std::string>{"FarbNr|Bezeichnung|Minuten", "2|Grün|3", "13|$190 nm|-5"}));
        QCOMPARE(other.fixedRows(), 1);
        QCOMPARE(other.selectedRow(), 1);

        tintrava::putStepsInGrid(other, {});
        QCOMPARE(other.rowCount(), 1);
        QCOMPARE(other.fixedRows(), 0);
        QCOMPARE(other.selectedRow(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSequenceFile)
#include "test_sequence_file.moc"
