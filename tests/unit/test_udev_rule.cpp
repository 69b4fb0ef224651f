// The udev rule that gives the user at the desktop access to the lamp must
// cover exactly the devices discovery takes: a lamp the rule misses cannot be
// opened by a normal user, and a device the rule wrongly covers is handed to
// every user at the seat. The rule's product lines are read from the file and
// applied the way udev does.
#include <QtTest>

#include <fnmatch.h>

#include "lamp/discovery.h"

using namespace tintrava;

namespace {

struct ProductLine {
    QString pattern; // udev glob, '|' separating alternatives
    bool grants;     // GOTO the lamp label, or out of the rule
};

// key==value, key!="value", TAG+="x", … of one rule line, quotes removed.
struct Token {
    QString key, op, value;
};

QList<Token> tokens(const QString &line)
{
    QList<Token> result;
    static const QRegularExpression re(QStringLiteral("\\s*([A-Z_]+(?:\\{[^}]*\\})?)\\s*(==|!=|\\+=|:=|=)\\s*\"([^\"]*)\"\\s*,?"));
    qsizetype pos = 0;
    while (pos < line.size()) {
        const auto m = re.match(line, pos, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch())
            break;
        result.append({m.captured(1), m.captured(2), m.captured(3)});
        pos = m.capturedEnd();
    }
    return result;
}

QStringList ruleLines()
{
    QFile file(QStringLiteral(TINTRAVA_UDEV_RULE_PATH));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QString t = line.trimmed();
        if (!t.isEmpty() && !t.startsWith(u'#'))
            lines.append(t);
    }
    return lines;
}

// The lines that test the product string and jump, in file order.
QList<ProductLine> productLines()
{
    QList<ProductLine> result;
    for (const QString &line : ruleLines()) {
        const QList<Token> ts = tokens(line);
        QString pattern, target;
        for (const Token &t : ts) {
            if (t.key == QLatin1String("ATTR{product}") && t.op == QLatin1String("=="))
                pattern = t.value;
            if (t.key == QLatin1String("GOTO"))
                target = t.value;
        }
        if (!pattern.isNull())
            result.append({pattern, target == QLatin1String("tintrava_lamp")});
    }
    return result;
}

// udev's comparison of a sysfs attribute with a pattern: trailing blanks of
// the value are dropped unless the pattern ends in one; then the value must
// match one of the '|' alternatives as an fnmatch glob.
bool udevMatches(const QString &pattern, QByteArray value)
{
    if (pattern.isEmpty() || !pattern.back().isSpace()) {
        while (!value.isEmpty() && std::isspace(static_cast<unsigned char>(value.back())))
            value.chop(1);
    }
    for (const QString &alternative : pattern.split(u'|')) {
        if (fnmatch(alternative.toUtf8().constData(), value.constData(), 0) == 0)
            return true;
    }
    return false;
}

// Whether the rule grants access to a device with this product string: the
// first product line that matches decides.
bool ruleGrants(const QList<ProductLine> &lines, const QByteArray &product)
{
    for (const ProductLine &line : lines) {
        if (udevMatches(line.pattern, product))
            return line.grants;
    }
    return false;
}

} // namespace

class TestUdevRule : public QObject {
    Q_OBJECT
private slots:
    void coversWhatDiscoveryTakes_data()
    {
        QTest::addColumn<QByteArray>("product");
        QTest::newRow("Sela-Lumen") << QByteArray("Sela-Lumen");
        QTest::newRow("Sela-Lumen, lower case") << QByteArray("sela-lumen");
        QTest::newRow("Sela-Lumen, trailing blank") << QByteArray("Sela-Lumen ");
        QTest::newRow("Sela-Lumen, leading blank") << QByteArray(" Sela-Lumen");
        QTest::newRow("Sela-Lumen2") << QByteArray("Sela-Lumen2");
        QTest::newRow("22, digits") << QByteArray("VC0123456789V012345678");
        QTest::newRow("22, all V") << QByteArray("VCVVVVVVVVVVVVVVVVVVVV");
        QTest::newRow("22, glob characters") << QByteArray("VC*?[]\\*?[]\\V*?[]\\*?[]");
        QTest::newRow("22, blanks inside") << QByteArray("VC          V        x");
        QTest::newRow("22, ending in a blank") << QByteArray("VC0123456789V01234567 ");
        QTest::newRow("22, all blanks after VC") << QByteArray("VC          V         ");
        QTest::newRow("22, other 13th") << QByteArray("VC0123456789X012345678");
        QTest::newRow("22, lower v 13th") << QByteArray("VC0123456789v012345678");
        QTest::newRow("22, V 12th") << QByteArray("VC012345678V9012345678");
        QTest::newRow("22, V 14th") << QByteArray("VC0123456789AV12345678");
        QTest::newRow("22, lower vc") << QByteArray("vc0123456789V012345678");
        QTest::newRow("22, not VC") << QByteArray("XC0123456789V012345678");
        QTest::newRow("21") << QByteArray("VC0123456789V01234567");
        QTest::newRow("21 and a blank") << QByteArray("VC0123456789V0123456 ");
        QTest::newRow("23") << QByteArray("VC0123456789V0123456789");
        QTest::newRow("22 and a blank") << QByteArray("VC0123456789V012345678 ");
        QTest::newRow("TTL232R") << QByteArray("TTL232R");
        QTest::newRow("TTL232R, trailing blank") << QByteArray("TTL232R ");
        QTest::newRow("TTL232R-3V3") << QByteArray("TTL232R-3V3");
        QTest::newRow("FT232R USB UART") << QByteArray("FT232R USB UART");
        QTest::newRow("Dual RS232-HS") << QByteArray("Dual RS232-HS");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("one blank") << QByteArray(" ");
    }
    void coversWhatDiscoveryTakes()
    {
        QFETCH(QByteArray, product);
        const QList<ProductLine> lines = productLines();
        QVERIFY2(!lines.isEmpty(), "no ATTR{product} lines read from " TINTRAVA_UDEV_RULE_PATH);
        const std::string description = product.toStdString();
        const bool taken = matchesLampDescription(description) || matchesFallbackDescription(description);
        QCOMPARE(ruleGrants(lines, product), taken);
    }

    // The rule only ever tags and marks the device: access through the seat,
    // never by opening it to everyone; and only for FTDI's vendor id.
    void grantsSeatAccessOnly()
    {
        const QStringList lines = ruleLines();
        QVERIFY(!lines.isEmpty());
        bool tagged = false, ignoredByModemManager = false, vendorChecked = false;
        for (const QString &line : lines) {
            for (const Token &t : tokens(line)) {
                QVERIFY2(t.key != QLatin1String("MODE") && t.key != QLatin1String("OWNER")
                             && t.key != QLatin1String("GROUP"),
                         qPrintable(line));
                tagged |= t.key == QLatin1String("TAG") && t.op == QLatin1String("+=") && t.value == QLatin1String("uaccess");
                ignoredByModemManager |= t.key == QLatin1String("ENV{ID_MM_DEVICE_IGNORE}") && t.value == QLatin1String("1");
                vendorChecked |= t.key == QLatin1String("ATTR{idVendor}") && t.op == QLatin1String("!=")
                    && t.value == QLatin1String("0403") && line.contains(QLatin1String("GOTO=\"tintrava_end\""));
            }
        }
        QVERIFY(tagged);
        QVERIFY(ignoredByModemManager);
        QVERIFY(vendorChecked);
    }
};

QTEST_GUILESS_MAIN(TestUdevRule)
#include "test_udev_rule.moc"
