// The whole road from the USB device to the user: the main window with the
// built-in libftdi1 binding as its driver, against chips emulated at the USB
// level. A lamp whose node the user may not open (run as an unprivileged
// user) and a lamp another program holds each bring one information box and
// the indicator's tooltip; an unrelated FTDI gadget brings nothing.
#include "ftdi_usb_emulator.h"

#include <QtTest>

#include <QComboBox>
#include <QTemporaryDir>

#include <unistd.h>

#include <memory>

#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/d2xx/libftdi_binding.h"
#include "lamp/link_problem.h"
#include "support/fake_dialogs.h"
#include "support/main_window_fixture.h"
#include "ui/main_window.h"

using tintrava::test::EmulatedChipSpec;
using tintrava::test::EmulatedFt232r;
using tintrava::test::FtdiUsbEmulator;

namespace {

EmulatedChipSpec chip(const std::string &product, const std::string &serial)
{
    EmulatedChipSpec spec;
    spec.productId = 0x6001;
    spec.product = product;
    spec.serial = serial;
    return spec;
}

QString toolTipFor(tintrava::LampLinkProblem p)
{
    return QString::fromStdString(tintrava::linkProblemToolTip(p));
}

} // namespace

class TestLinkProblemUsb : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!FtdiUsbEmulator::inMockEnvironment())
            QFAIL("run this test under umockdev-wrapper (ctest does)");
        tintrava::setListingContextPolicy(tintrava::ListingContextPolicy::KeepForRun);
        D2XXUnit::setDriver(tintrava::libftdiApi());
    }

    void init()
    {
        m_usb = std::make_unique<FtdiUsbEmulator>();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_window.open(m_dir->path(), "1\n");
        m_window.form->Timer2->stop(); // the test runs discovery itself
        m_window.form->hooks.sleep = [](int) {};
    }

    void cleanup()
    {
        m_window.close();
        tintrava::libftdiEndOfRun();
        m_usb.reset();
        m_dir.reset();
    }

    void lampWithoutAccess()
    {
        if (geteuid() == 0)
            QSKIP("root opens any node; test_link_problem_usb_unprivileged runs this as user 65534");
        TForm1 &f = *m_window.form;
        m_usb->plug(chip("FT232R USB UART", "GADGET01"));
        m_usb->denyAccess(m_usb->plug(chip("FT232R USB UART", "GADGET02")));
        f.getusbdev();
        QTest::qWait(50);
        QVERIFY(m_window.dialogs->shown().empty()); // an unrelated gadget is none of our business
        QCOMPARE(f.ComboBox1->toolTip(), QString());

        EmulatedFt232r &lamp = m_usb->plug(chip("Sela-Lumen", "SL000001"));
        m_usb->denyAccess(lamp);
        for (int i = 0; i < 3; ++i)
            f.Timer2Timer();
        QCOMPARE(f.ComboBox1->currentText(), QString("keine Verbindung"));
        QCOMPARE(f.ComboBox1->toolTip(), toolTipFor(tintrava::LampLinkProblem::NoAccess));
        QTRY_COMPARE(m_window.dialogs->informations().size(), std::size_t(1));
        QVERIFY(QString::fromStdString(m_window.dialogs->informations()[0]).contains("60-tintrava.rules"));

        // Plugged out: the problem goes with it, silently.
        m_usb->unplug(lamp);
        f.Timer2Timer();
        QCOMPARE(f.ComboBox1->toolTip(), QString());
        QTest::qWait(50);
        QCOMPARE(m_window.dialogs->shown().size(), std::size_t(1));
    }

    void lampHeldByAnotherProgram()
    {
        TForm1 &f = *m_window.form;
        EmulatedFt232r &lamp = m_usb->plug(chip("Sela-Lumen", "SL000002"));
        lamp.setHeldByAnotherProgram(true);
        f.Timer2Timer();
        QCOMPARE(f.ComboBox1->currentText(), QString("USB")); // found, as discovery only lists
        f.selectcolor(5);                                      // the open is refused
        QVERIFY(lamp.takeBulkOut().empty());
        f.Timer2Timer();
        QCOMPARE(f.ComboBox1->currentText(), QString("USB"));
        QCOMPARE(f.ComboBox1->toolTip(), toolTipFor(tintrava::LampLinkProblem::Busy));
        QTRY_COMPARE(m_window.dialogs->informations().size(), std::size_t(1));
        QVERIFY(QString::fromStdString(m_window.dialogs->informations()[0]).contains("anderes Programm"));

        // The other program lets go: the next command reaches the lamp, the tooltip goes.
        lamp.setHeldByAnotherProgram(false);
        f.selectcolor(5);
        QVERIFY(!lamp.takeBulkOut().empty());
        f.Timer2Timer();
        QCOMPARE(f.ComboBox1->toolTip(), QString());
        QTest::qWait(50);
        QCOMPARE(m_window.dialogs->shown().size(), std::size_t(1));
    }

private:
    std::unique_ptr<FtdiUsbEmulator> m_usb;
    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindowFixture m_window;
};

QTEST_MAIN(TestLinkProblemUsb)
#include "test_link_problem_usb.moc"
