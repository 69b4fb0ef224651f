#include <QtTest>

#include "lamp/integer_rule.h"

using namespace tintrava;

class TestIntegerRule : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");

        QTest::newRow("plain") << QByteArray("42") << true << 42;
        QTest::newRow("zero") << QByteArray("0") << true << 0;
        QTest::newRow("leading zeros") << QByteArray("0005") << true << 5;
        QTest::newRow("leading blanks") << QByteArray("   3") << true << 3;
        QTest::newRow("plus") << QByteArray("+3") << true << 3;
        QTest::newRow("minus") << QByteArray("-5") << true << -5;
        QTest::newRow("blanks then sign") << QByteArray("  -7") << true << -7;
        QTest::newRow("dollar") << QByteArray("$3") << true << 3;
        QTest::newRow("x") << QByteArray("x1f") << true << 31;
        QTest::newRow("X") << QByteArray("X1F") << true << 31;
        QTest::newRow("0x") << QByteArray("0xff") << true << 255;
        QTest::newRow("0X") << QByteArray("0XFf") << true << 255;
        QTest::newRow("signed hex") << QByteArray("-$10") << true << -16;
        QTest::newRow("plus hex") << QByteArray("+0x10") << true << 16;
        QTest::newRow("$190") << QByteArray("$190") << true << 400;
        QTest::newRow("max") << QByteArray("2147483647") << true << 2147483647;
        QTest::newRow("min") << QByteArray("-2147483648") << true << int(-2147483647 - 1);
        QTest::newRow("max+1") << QByteArray("2147483648") << false << 0;
        QTest::newRow("min-1") << QByteArray("-2147483649") << false << 0;
        QTest::newRow("huge") << QByteArray("99999999999999999999999") << false << 0;
        QTest::newRow("hex all ones") << QByteArray("$FFFFFFFF") << true << -1;
        QTest::newRow("hex sign bit") << QByteArray("$80000000") << true << int(-2147483647 - 1);
        QTest::newRow("negated hex all ones") << QByteArray("-$FFFFFFFF") << true << 1;
        QTest::newRow("hex too wide") << QByteArray("$100000000") << false << 0;
        QTest::newRow("hex leading zeros") << QByteArray("$00000000FF") << true << 255;
        QTest::newRow("trailing blank") << QByteArray("3 ") << false << 0;
        QTest::newRow("empty") << QByteArray("") << false << 0;
        QTest::newRow("blanks only") << QByteArray("   ") << false << 0;
        QTest::newRow("lone plus") << QByteArray("+") << false << 0;
        QTest::newRow("lone minus") << QByteArray("-") << false << 0;
        QTest::newRow("lone dollar") << QByteArray("$") << false << 0;
        QTest::newRow("lone 0x") << QByteArray("0x") << false << 0;
        QTest::newRow("sign then prefix only") << QByteArray("-x") << false << 0;
        QTest::newRow("FF without prefix") << QByteArray("FF") << false << 0;
        QTest::newRow("double sign") << QByteArray("+-1") << false << 0;
        QTest::newRow("blank after sign") << QByteArray("- 1") << false << 0;
        QTest::newRow("tab is no blank") << QByteArray("\t1") << false << 0;
        QTest::newRow("decimal point") << QByteArray("1.5") << false << 0;
        QTest::newRow("letters") << QByteArray("abc") << false << 0;
        QTest::newRow("hex digit in decimal") << QByteArray("12a") << false << 0;
        QTest::newRow("embedded NUL") << QByteArray("1\0" "2", 3) << false << 0;
        QTest::newRow("umlaut") << QByteArray("\xe4") << false << 0;
    }

    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const auto parsed = parseInteger(std::string_view(text.constData(), size_t(text.size())));
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(*parsed, value);
        QCOMPARE(strToIntDef(std::string_view(text.constData(), size_t(text.size())), -77), valid ? value : -77);
    }

    void write_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0";
        QTest::newRow("positive") << qint64(15) << "15";
        QTest::newRow("negative") << qint64(-5) << "-5";
        QTest::newRow("int32 max") << qint64(2147483647) << "2147483647";
        QTest::newRow("int32 min") << qint64(-2147483647 - 1) << "-2147483648";
    }

    void write()
    {
        QFETCH(qint64, value);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(intToStr(value)), text);
    }
};

QTEST_GUILESS_MAIN(TestIntegerRule)
#include "test_integer_rule.moc"
