// The main window when a lamp is plugged in but cannot be reached: one
// information box per run and the indicator's tooltip, only for devices
// discovery would take; driven by the fake driver's link problems.
#include <QtTest>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include "lamp/link_problem.h"
#include "support/fake_d2xx.h"
#include "support/fake_dialogs.h"
#include "support/main_window_fixture.h"
#include "ui/main_window.h"

using Problems = std::vector<D2xxLinkProblem>;
using Devices = std::vector<tintrava::testing::FakeDevice>;
Q_DECLARE_METATYPE(Problems)
Q_DECLARE_METATYPE(Devices)

namespace {

const QString Usb = QStringLiteral("USB");
const QString NoConnection = QStringLiteral("keine Verbindung");

QString toolTipFor(tintrava::LampLinkProblem p)
{
    return QString::fromStdString(tintrava::linkProblemToolTip(p));
}

} // namespace

class TestLinkProblemWindow : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        tintrava::testing::fakeD2xx().reset();
        tintrava::testing::fakeD2xx().install();
        m_window.open(m_dir->path(), "1\n");
        m_window.form->Timer2->stop(); // the test runs discovery itself
    }

    void cleanup()
    {
        m_window.close();
        m_dir.reset();
    }

    void boxAndToolTip_data()
    {
        QTest::addColumn<Devices>("devices");
        QTest::addColumn<Problems>("problems");
        QTest::addColumn<QString>("indicator");
        QTest::addColumn<QString>("boxStart"); // empty: no box
        QTest::addColumn<QString>("toolTip");
        const QString accessBox = QStringLiteral("Die Lampe ist angeschlossen, aber Tintrava darf");
        const QString busyBox = QStringLiteral("Die Lampe ist angeschlossen, aber ein anderes Programm");
        // Without access discovery cannot read the lamp's description: no lamp found.
        QTest::newRow("lamp without access")
            << Devices{} << Problems{{D2xxLinkProblemKind::NoAccess, "Sela-Lumen"}} << NoConnection << accessBox
            << toolTipFor(tintrava::LampLinkProblem::NoAccess);
        QTest::newRow("cable without access")
            << Devices{} << Problems{{D2xxLinkProblemKind::NoAccess, "TTL232R"}} << NoConnection << accessBox
            << toolTipFor(tintrava::LampLinkProblem::NoAccess);
        // A lamp another program holds is found, but cannot be opened.
        QTest::newRow("lamp held elsewhere")
            << Devices{{"Sela-Lumen", "VL1"}} << Problems{{D2xxLinkProblemKind::Busy, "Sela-Lumen"}} << Usb
            << busyBox << toolTipFor(tintrava::LampLinkProblem::Busy);
        QTest::newRow("unrelated gadget without access")
            << Devices{} << Problems{{D2xxLinkProblemKind::NoAccess, "FT232R USB UART"}} << NoConnection
            << QString() << QString();
        QTest::newRow("unrelated gadget held elsewhere, lamp fine")
            << Devices{{"Sela-Lumen", "VL1"}} << Problems{{D2xxLinkProblemKind::Busy, "FT232R USB UART"}} << Usb
            << QString() << QString();
        QTest::newRow("no problem") << Devices{} << Problems{} << NoConnection << QString() << QString();
    }

    void boxAndToolTip()
    {
        QFETCH(Devices, devices);
        QFETCH(Problems, problems);
        QFETCH(QString, indicator);
        QFETCH(QString, boxStart);
        QFETCH(QString, toolTip);
        TForm1 &f = *m_window.form;
        auto &fake = tintrava::testing::fakeD2xx();
        fake.devices = devices;
        fake.linkProblems = problems;
        for (int i = 0; i < 5; ++i) {
            f.Timer2Timer();
            QCoreApplication::processEvents();
        }
        QCOMPARE(f.ComboBox1->currentText(), indicator);
        QCOMPARE(f.ComboBox1->toolTip(), toolTip);
        const auto shown = m_window.dialogs->shown();
        if (boxStart.isEmpty()) {
            QVERIFY(shown.empty());
        } else {
            QCOMPARE(shown.size(), std::size_t(1));
            QCOMPARE(shown[0].kind, FakeDialogs::Box::Information);
            QVERIFY2(QString::fromStdString(shown[0].text).startsWith(boxStart), shown[0].text.c_str());
        }
    }

    // The tooltip follows the problem; the box comes once in the whole run.
    void oncePerRun()
    {
        TForm1 &f = *m_window.form;
        auto &fake = tintrava::testing::fakeD2xx();
        fake.linkProblems = {{D2xxLinkProblemKind::NoAccess, "Sela-Lumen"}};
        f.Timer2Timer();
        QTRY_COMPARE(m_window.dialogs->informations().size(), std::size_t(1));

        // Mended (rule installed, lamp plugged in again): the lamp is found.
        fake.linkProblems.clear();
        fake.devices = {{"Sela-Lumen", "VL1"}};
        f.Timer2Timer();
        QCOMPARE(f.ComboBox1->currentText(), Usb);
        QCOMPARE(f.ComboBox1->toolTip(), QString());

        // Later another program takes the lamp: the tooltip says so, no box.
        fake.linkProblems = {{D2xxLinkProblemKind::Busy, "Sela-Lumen"}};
        f.Timer2Timer();
        QCoreApplication::processEvents();
        QCOMPARE(f.ComboBox1->toolTip(), toolTipFor(tintrava::LampLinkProblem::Busy));
        QTest::qWait(50);
        QCOMPARE(m_window.dialogs->informations().size(), std::size_t(1));
    }

    // Discovery runs on while a dialog of the program is up (the discovery
    // timer fires inside it): the box waits until it is gone.
    void boxWaitsForOtherDialogs()
    {
        TForm1 &f = *m_window.form;
        auto &fake = tintrava::testing::fakeD2xx();
        fake.linkProblems = {{D2xxLinkProblemKind::NoAccess, "Sela-Lumen"}};
        QDialog other(&f);
        other.setModal(true);
        other.show();
        QTRY_VERIFY(QApplication::activeModalWidget() == &other);
        f.Timer2Timer();
        QCOMPARE(f.ComboBox1->toolTip(), toolTipFor(tintrava::LampLinkProblem::NoAccess));
        QTest::qWait(50);
        QVERIFY(m_window.dialogs->shown().empty());
        other.close();
        QTRY_VERIFY(!QApplication::activeModalWidget());
        f.Timer2Timer();
        QTRY_COMPARE(m_window.dialogs->informations().size(), std::size_t(1));
    }

    // Every lamp command runs discovery first; the box must not open inside
    // the exchange (the player's timer would run in its event loop), but
    // right after it.
    void boxWaitsForTheEndOfALampCommand()
    {
        TForm1 &f = *m_window.form;
        auto &fake = tintrava::testing::fakeD2xx();
        f.hooks.sleep = [](int) {};
        fake.devices = {{"Sela-Lumen", "VL1"}};
        fake.linkProblems = {{D2xxLinkProblemKind::Busy, "Sela-Lumen"}};
        f.selectcolor(5);
        QVERIFY(m_window.dialogs->shown().empty());
        QCOMPARE(f.ComboBox1->toolTip(), toolTipFor(tintrava::LampLinkProblem::Busy));
        QTRY_COMPARE(m_window.dialogs->informations().size(), std::size_t(1));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindowFixture m_window;
};

QTEST_MAIN(TestLinkProblemWindow)
#include "test_link_problem_window.moc"
