#pragma once
// A shown main window with its hardware dialog and scripted boxes, its
// "my.conf" in a folder of the test's. After open() the start-up check has run.
#include <QByteArray>
#include <QString>

#include <memory>

#include "ui/hardware_dialog.h"
#include "support/fake_dialogs.h"
#include "ui/main_window.h"

class MainWindowFixture {
public:
    // Writes conf to dir/my.conf, shows Form1 and waits for its start-up
    // check; a failure is recorded as the current test's (check
    // QTest::currentTestFailed()).
    void open(const QString &dir, const QByteArray &conf);
    // Windows gone, the program's own folder holds "my.conf" again.
    void close();
    ~MainWindowFixture() { close(); }

    // Set before open(): the window's lamp work on its own thread, as in the
    // program. Off, each lamp call is done before the call that asked for it
    // returns, so a test can read the fake driver right after it.
    bool lampThread = false;

    std::unique_ptr<FakeDialogs> dialogs;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm1> form;
};
