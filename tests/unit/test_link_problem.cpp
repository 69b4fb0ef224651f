// Which unreachable devices concern the user (only those discovery would
// take), and the notice's rule: one box per run, a tooltip while it lasts.
#include <QtTest>

#include <string>
#include <vector>

#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/link_problem.h"
#include "support/fake_d2xx.h"

using tintrava::LampLinkProblem;
using Problems = std::vector<D2xxLinkProblem>;

Q_DECLARE_METATYPE(Problems)
Q_DECLARE_METATYPE(LampLinkProblem)

namespace {

D2xxLinkProblem noAccess(const std::string &product)
{
    return {D2xxLinkProblemKind::NoAccess, product};
}

D2xxLinkProblem busy(const std::string &product)
{
    return {D2xxLinkProblemKind::Busy, product};
}

} // namespace

class TestLinkProblem : public QObject {
    Q_OBJECT
private slots:
    void onlyDevicesDiscoveryWouldTake_data()
    {
        QTest::addColumn<Problems>("problems");
        QTest::addColumn<LampLinkProblem>("expected");
        QTest::newRow("none") << Problems{} << LampLinkProblem::None;
        QTest::newRow("lamp, no access") << Problems{noAccess("Sela-Lumen")} << LampLinkProblem::NoAccess;
        QTest::newRow("lamp, busy") << Problems{busy("Sela-Lumen")} << LampLinkProblem::Busy;
        QTest::newRow("VC lamp") << Problems{noAccess("VC0123456789V123456789")} << LampLinkProblem::NoAccess;
        QTest::newRow("VC, 13th not V") << Problems{noAccess("VC0123456789X123456789")} << LampLinkProblem::None;
        QTest::newRow("VC, 21 characters") << Problems{noAccess("VC0123456789V12345678")} << LampLinkProblem::None;
        QTest::newRow("VC, 23 characters") << Problems{noAccess("VC0123456789V1234567890")}
                                           << LampLinkProblem::None;
        QTest::newRow("fallback cable") << Problems{busy("TTL232R")} << LampLinkProblem::Busy;
        QTest::newRow("unrelated gadget") << Problems{noAccess("FT232R USB UART")} << LampLinkProblem::None;
        QTest::newRow("case matters") << Problems{noAccess("sela-lumen")} << LampLinkProblem::None;
        QTest::newRow("unknown product") << Problems{noAccess("")} << LampLinkProblem::None;
        QTest::newRow("gadget first, then cable") << Problems{busy("FT232R USB UART"), noAccess("TTL232R")}
                                                  << LampLinkProblem::NoAccess;
        // As in discovery, a lamp goes before the cable whatever the order.
        QTest::newRow("cable, then lamp") << Problems{noAccess("TTL232R"), busy("Sela-Lumen")}
                                          << LampLinkProblem::Busy;
    }

    void onlyDevicesDiscoveryWouldTake()
    {
        QFETCH(Problems, problems);
        QFETCH(LampLinkProblem, expected);
        QCOMPARE(tintrava::lampLinkProblem(problems), expected);
        // The same through the device layer's driver.
        auto &fake = tintrava::testing::fakeD2xx();
        fake.reset();
        fake.linkProblems = problems;
        fake.install();
        QCOMPARE(tintrava::lampLinkProblem(), expected);
        QVERIFY(fake.calls.empty()); // asking makes no driver call
    }

    // A driver that cannot tell (FTDI's library, the virtual lamp) has no problems.
    void driverWithoutTheQuery()
    {
        D2xxApi api = tintrava::testing::FakeD2xx::api();
        api.LinkProblems = nullptr;
        D2XXUnit::setDriver(api);
        QVERIFY(D2XXUnit::GetLinkProblems().empty());
        QCOMPARE(tintrava::lampLinkProblem(), LampLinkProblem::None);
    }

    void oneBoxPerRunATooltipWhileItLasts()
    {
        tintrava::LinkProblemNotice notice;
        auto o = notice.update(LampLinkProblem::None);
        QVERIFY(o.toolTip.empty());
        QVERIFY(o.boxText.empty());

        o = notice.update(LampLinkProblem::NoAccess);
        QCOMPARE(o.toolTip, tintrava::linkProblemToolTip(LampLinkProblem::NoAccess));
        QCOMPARE(o.boxText, tintrava::linkProblemBoxText(LampLinkProblem::NoAccess));
        o = notice.update(LampLinkProblem::NoAccess);
        QCOMPARE(o.toolTip, tintrava::linkProblemToolTip(LampLinkProblem::NoAccess));
        QVERIFY(o.boxText.empty());

        o = notice.update(LampLinkProblem::None);
        QVERIFY(o.toolTip.empty());
        // Back again, or another problem: the tooltip says so, no second box.
        o = notice.update(LampLinkProblem::Busy);
        QCOMPARE(o.toolTip, tintrava::linkProblemToolTip(LampLinkProblem::Busy));
        QVERIFY(o.boxText.empty());
        QVERIFY(notice.boxShown());
    }

    // While another box or dialog is up the box waits; the tooltip does not.
    void boxWaitsUntilAllowed()
    {
        tintrava::LinkProblemNotice notice;
        auto o = notice.update(LampLinkProblem::Busy, false);
        QCOMPARE(o.toolTip, tintrava::linkProblemToolTip(LampLinkProblem::Busy));
        QVERIFY(o.boxText.empty());
        QVERIFY(!notice.boxShown());
        o = notice.update(LampLinkProblem::Busy, true);
        QCOMPARE(o.boxText, tintrava::linkProblemBoxText(LampLinkProblem::Busy));
        o = notice.update(LampLinkProblem::Busy, true);
        QVERIFY(o.boxText.empty());
    }

    void textsSayWhatIsWrongAndHowToMendIt()
    {
        const std::string access = tintrava::linkProblemBoxText(LampLinkProblem::NoAccess);
        QVERIFY(access.find("60-tintrava.rules") != std::string::npos);
        QVERIFY(access.find("ab und stecken Sie sie wieder an") != std::string::npos);
        QVERIFY(access.find("sudo install -m 644 data/60-tintrava.rules /etc/udev/rules.d/ && "
                            "sudo udevadm control --reload-rules && sudo udevadm trigger")
                != std::string::npos);
        QVERIFY(tintrava::linkProblemBoxText(LampLinkProblem::Busy).find("anderes Programm") != std::string::npos);
        QVERIFY(tintrava::linkProblemBoxText(LampLinkProblem::None).empty());
        for (LampLinkProblem p : {LampLinkProblem::NoAccess, LampLinkProblem::Busy}) {
            const std::string tip = tintrava::linkProblemToolTip(p);
            QVERIFY(!tip.empty());
            QVERIFY(tip.find('\n') == std::string::npos); // one line
        }
        QVERIFY(tintrava::linkProblemToolTip(LampLinkProblem::None).empty());
    }
};

QTEST_GUILESS_MAIN(TestLinkProblem)
#include "test_link_problem.moc"
