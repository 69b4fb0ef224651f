#include <QtTest>

#include <climits>

#include "lamp/colours.h"

using namespace tintrava;

// Expected commands were worked out by hand from the colour table (channel by
// channel, fraction rounded to single precision), never taken from the code.
class TestColours : public QObject {
    Q_OBJECT
private slots:
    void tableSpotValues_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("colour");
        QTest::addColumn<QString>("hex");
        // Every colour number and every row at least once, picked where rows differ.
        QTest::newRow("0/1 Rot") << 0 << 1 << "FF0000";
        QTest::newRow("0/2 Gruen") << 0 << 2 << "00EC00";
        QTest::newRow("4/3 Blau") << 4 << 3 << "0000FF";
        QTest::newRow("0/4 Weiss") << 0 << 4 << "FFFFFF";
        QTest::newRow("2/4 Weiss") << 2 << 4 << "C8C8C8";
        QTest::newRow("0/5 Orange") << 0 << 5 << "FF5800";
        QTest::newRow("1/5 Orange") << 1 << 5 << "FF9600";
        QTest::newRow("2/5 Orange") << 2 << 5 << "FF6E00";
        QTest::newRow("3/5 Orange") << 3 << 5 << "FF7D00";
        QTest::newRow("0/6 Tuerkis") << 0 << 6 << "00FFEC";
        QTest::newRow("1/6 Tuerkis") << 1 << 6 << "00DCFF";
        QTest::newRow("0/7 Violett") << 0 << 7 << "7C009E";
        QTest::newRow("2/7 Violett") << 2 << 7 << "FF00B4";
        QTest::newRow("0/8 Gelb") << 0 << 8 << "FFAF00";
        QTest::newRow("4/8 Gelb") << 4 << 8 << "FFC800";
        QTest::newRow("0/9 Rosa") << 0 << 9 << "FF5A8C";
        QTest::newRow("1/9 Rosa") << 1 << 9 << "FF87BE";
        QTest::newRow("2/9 Rosa") << 2 << 9 << "FF69BE";
        QTest::newRow("0/10 Magenta") << 0 << 10 << "FF0086";
        QTest::newRow("3/10 Magenta") << 3 << 10 << "E600FF";
        QTest::newRow("0/12 Indigo") << 0 << 12 << "280B35";
        QTest::newRow("4/12 Indigo") << 4 << 12 << "7D2DA5";
    }

    void tableSpotValues()
    {
        QFETCH(int, row);
        QFETCH(int, colour);
        QFETCH(QString, hex);
        const Rgb &c = ColourTable[row][colour - 1];
        QCOMPARE(int(c.r), hex.mid(0, 2).toInt(nullptr, 16));
        QCOMPARE(int(c.g), hex.mid(2, 2).toInt(nullptr, 16));
        QCOMPARE(int(c.b), hex.mid(4, 2).toInt(nullptr, 16));
        QCOMPARE(QString::fromStdString(colourCommand(row, colour)), "C" + hex);
    }

    void rowsThreeAndFourAgree()
    {
        for (int n = 0; n < 12; ++n) {
            const Rgb &a = ColourTable[3][n];
            const Rgb &b = ColourTable[4][n];
            QVERIFY2(a.r == b.r && a.g == b.g && a.b == b.b, qPrintable(QString::number(n + 1)));
        }
    }

    void offIsBlackInEveryRow()
    {
        for (int row = 0; row < 5; ++row)
            QCOMPARE(QString::fromStdString(colourCommand(row, 11)), QStringLiteral("C000000"));
    }

    // Nothing outside the table may be read, whatever the caller passes.
    void outOfRangeArguments_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("colour");
        QTest::addColumn<QString>("command");
        QTest::newRow("row -1 reads row 0") << -1 << 5 << "CFF5800";
        QTest::newRow("row 5 reads row 0") << 5 << 7 << "C7C009E";
        QTest::newRow("row INT_MIN") << INT_MIN << 12 << "C280B35";
        QTest::newRow("colour 0 is off") << 3 << 0 << "C000000";
        QTest::newRow("colour 13 is off") << 3 << 13 << "C000000";
        QTest::newRow("colour -1 is off") << 1 << -1 << "C000000";
        QTest::newRow("colour INT_MAX is off") << 1 << INT_MAX << "C000000";
    }

    void outOfRangeArguments()
    {
        QFETCH(int, row);
        QFETCH(int, colour);
        QFETCH(QString, command);
        QCOMPARE(QString::fromStdString(colourCommand(row, colour)), command);
    }

    void wavelengthCommand_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("w");
        QTest::addColumn<QString>("command");

        // Worked examples.
        QTest::newRow("3@750 Rot") << 3 << 750 << "CFF0000";
        QTest::newRow("3@605 Orange") << 3 << 605 << "CFF7D00";
        QTest::newRow("3@580 Gelb") << 3 << 580 << "CFFC800";
        QTest::newRow("1@450 ties to even") << 1 << 450 << "C3E16D2";     // 62.5->62, 22.5->22
        QTest::newRow("1@442 float fraction") << 1 << 442 << "C571FC0";   // not 581FC0
        QTest::newRow("1@466") << 1 << 466 << "C0D05F6";
        QTest::newRow("0@476") << 0 << 476 << "C004DF9";
        QTest::newRow("0@545") << 0 << 545 << "C4DDA00";
        QTest::newRow("3@575") << 3 << 575 << "CE5CC00";

        // Ties whose lower neighbour is odd round up.
        QTest::newRow("3@510 127.5->128") << 3 << 510 << "C00E480";
        QTest::newRow("1@440 187.5->188") << 1 << 440 << "C5E22BC";

        // Segment ends give the plain table colour.
        QTest::newRow("3@470 Blau") << 3 << 470 << "C0000FF";
        QTest::newRow("2@490 Tuerkis") << 2 << 490 << "C00DCFF";
        QTest::newRow("4@530 Gruen") << 4 << 530 << "C00EC00";
        QTest::newRow("2@605 Orange") << 2 << 605 << "CFF6E00";
        QTest::newRow("0@750 Rot") << 0 << 750 << "CFF0000";

        // Cut points between segments.
        QTest::newRow("3@430 Indigo") << 3 << 430 << "C7D2DA5";
        QTest::newRow("0@430 Indigo") << 0 << 430 << "C280B35";
        QTest::newRow("3@431") << 3 << 431 << "C7A2CA7";   // Indigo->Blau f=1/40
        QTest::newRow("0@431") << 0 << 431 << "C270B3A";
        QTest::newRow("3@471") << 3 << 471 << "C000BFF";   // Blau->Tuerkis f=1/20
        QTest::newRow("3@491") << 3 << 491 << "C00DCF9";   // Tuerkis->Gruen f=1/40
        QTest::newRow("3@531") << 3 << 531 << "C05EB00";   // Gruen->Gelb f=1/50
        QTest::newRow("3@579") << 3 << 579 << "CFAC900";   // Gruen->Gelb f=49/50
        QTest::newRow("3@581") << 3 << 581 << "CFFC500";   // Gelb->Orange f=1/25
        QTest::newRow("1@581") << 1 << 581 << "CFFC600";
        QTest::newRow("3@604") << 3 << 604 << "CFF8000";   // Gelb->Orange f=24/25
        QTest::newRow("2@604") << 2 << 604 << "CFF7200";
        QTest::newRow("3@606") << 3 << 606 << "CFF7C00";   // Orange->Rot f=1/145
        QTest::newRow("2@606") << 2 << 606 << "CFF6D00";
        QTest::newRow("3@649") << 3 << 649 << "CFF5700";   // no cut here for text
        QTest::newRow("3@650") << 3 << 650 << "CFF5600";

        // First segment: blends from 425 up, held at Violett below.
        QTest::newRow("3@429") << 3 << 429 << "C9724A8";
        QTest::newRow("3@426") << 3 << 426 << "CE509B1";
        QTest::newRow("3@425 Violett") << 3 << 425 << "CFF00B4";
        QTest::newRow("3@424 Violett") << 3 << 424 << "CFF00B4";
        QTest::newRow("3@390 Violett") << 3 << 390 << "CFF00B4";
        QTest::newRow("0@390 Violett") << 0 << 390 << "C7C009E";
        QTest::newRow("3@0 Violett") << 3 << 0 << "CFF00B4";
        QTest::newRow("3@INT_MIN Violett") << 3 << INT_MIN << "CFF00B4";

        // Beyond the last segment: Rot.
        QTest::newRow("3@751 Rot") << 3 << 751 << "CFF0000";
        QTest::newRow("1@100000 Rot") << 1 << 100000 << "CFF0000";
        QTest::newRow("3@INT_MAX Rot") << 3 << INT_MAX << "CFF0000";

        // Unknown lamp model reads row 0.
        QTest::newRow("-1@476 as row 0") << -1 << 476 << "C004DF9";
        QTest::newRow("5@545 as row 0") << 5 << 545 << "C4DDA00";
    }

    void wavelengthCommand()
    {
        QFETCH(int, row);
        QFETCH(int, w);
        QFETCH(QString, command);
        QCOMPARE(QString::fromStdString(tintrava::wavelengthCommand(row, w)), command);
    }

    void mixcolorRange_data()
    {
        QTest::addColumn<int>("c1");
        QTest::addColumn<int>("c2");
        QTest::addColumn<int>("lo");
        QTest::addColumn<int>("hi");
        QTest::addColumn<int>("w");
        QTest::addColumn<QString>("command");
        // Row 3 throughout.
        QTest::newRow("before lo gives c1") << 1 << 3 << 100 << 200 << 50 << "CFF0000";
        QTest::newRow("after hi gives c2") << 1 << 3 << 100 << 200 << 250 << "C0000FF";
        QTest::newRow("middle") << 1 << 3 << 100 << 200 << 150 << "C800080"; // 127.5 -> 128 both
        QTest::newRow("reversed range") << 7 << 12 << 430 << 425 << 426 << "C9724A8"; // f = 4/5
        QTest::newRow("empty range below") << 1 << 3 << 500 << 500 << 499 << "CFF0000";
        QTest::newRow("empty range at") << 1 << 3 << 500 << 500 << 500 << "C0000FF";
        QTest::newRow("extreme ints") << 1 << 3 << INT_MIN << INT_MAX << INT_MAX << "C0000FF";
        QTest::newRow("off colour outside table") << 99 << 3 << 0 << 2 << 1 << "C000080"; // 127.5
    }

    void mixcolorRange()
    {
        QFETCH(int, c1);
        QFETCH(int, c2);
        QFETCH(int, lo);
        QFETCH(int, hi);
        QFETCH(int, w);
        QFETCH(QString, command);
        QCOMPARE(QString::fromStdString(mixcolor(3, c1, c2, lo, hi, w)), command);
    }

    void byteProtocolColour_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("colour");
        QTest::newRow("INT_MIN") << INT_MIN << 7;
        QTest::newRow("390") << 390 << 7;
        QTest::newRow("424") << 424 << 7;
        QTest::newRow("425") << 425 << 7;
        QTest::newRow("430") << 430 << 7;
        QTest::newRow("431") << 431 << 12;
        QTest::newRow("470") << 470 << 12;
        QTest::newRow("471") << 471 << 3;
        QTest::newRow("490") << 490 << 3;
        QTest::newRow("491") << 491 << 6;
        QTest::newRow("500") << 500 << 6;
        QTest::newRow("530") << 530 << 6;
        QTest::newRow("531") << 531 << 2;
        QTest::newRow("579") << 579 << 2;
        QTest::newRow("580") << 580 << 2;
        QTest::newRow("581") << 581 << 8;
        QTest::newRow("604") << 604 << 8;
        QTest::newRow("605") << 605 << 8;
        QTest::newRow("606") << 606 << 5;
        QTest::newRow("649") << 649 << 5;
        QTest::newRow("650") << 650 << 1;
        QTest::newRow("750") << 750 << 1;
        QTest::newRow("INT_MAX") << INT_MAX << 1;
    }

    void byteProtocolColour()
    {
        QFETCH(int, w);
        QFETCH(int, colour);
        QCOMPARE(wavelengthColourNumber(w), colour);
    }

    // From the typed text to what each protocol sends.
    void wavelengthText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("w");
        QTest::addColumn<QString>("command");   // row 3
        QTest::addColumn<char>("letter");
        QTest::newRow("letters") << QByteArray("abc") << 500 << "C00E0BF" << 'F';  // Tuerkis/Gruen f=0.25
        QTest::newRow("empty") << QByteArray("") << 500 << "C00E0BF" << 'F';
        QTest::newRow("decimal point") << QByteArray("4.5") << 500 << "C00E0BF" << 'F';
        QTest::newRow("plain") << QByteArray("442") << 442 << "C571FC0" << 'L';
        QTest::newRow("leading blank") << QByteArray(" 58") << 58 << "CFF00B4" << 'G';
        QTest::newRow("hex") << QByteArray("$25") << 37 << "CFF00B4" << 'G';
        QTest::newRow("605") << QByteArray("605") << 605 << "CFF7D00" << 'H';
    }

    void wavelengthText()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, w);
        QFETCH(QString, command);
        QFETCH(char, letter);
        const int parsed = wavelengthFromText(std::string_view(text.constData(), size_t(text.size())));
        QCOMPARE(parsed, w);
        QCOMPARE(QString::fromStdString(tintrava::wavelengthCommand(3, parsed)), command);
        QCOMPARE(char(wavelengthColourNumber(parsed) + 64), letter);
    }
};

QTEST_GUILESS_MAIN(TestColours)
#include "test_colours.moc"
