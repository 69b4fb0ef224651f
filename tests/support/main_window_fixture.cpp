#include "support/main_window_fixture.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include "storage/settings_file.h"

void MainWindowFixture::open(const QString &dir, const QByteArray &conf)
{
    tintrava::setConfigDirectory(dir);
    QFile file(QDir(dir).filePath(QStringLiteral("my.conf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(conf), qint64(conf.size()));
    file.close();

    dialogs = std::make_unique<FakeDialogs>();
    form2 = std::make_unique<TForm2>();
    form = std::make_unique<TForm1>();
    form->setForm2(form2.get());
    form->setDialogs(dialogs.get());
    form->hooks.terminate = [] { QFAIL("terminated"); };
    form->hooks.lampThread = lampThread;
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QTRY_VERIFY(form->startupCheckDone());
}

void MainWindowFixture::close()
{
    form.reset();
    form2.reset();
    dialogs.reset();
    tintrava::setConfigDirectory(QString());
}
