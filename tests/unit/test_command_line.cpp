// The command line: which file is opened, the German --help and --version,
// and how a wrong option is reported; then the real program's answers and
// exit status.
#include <QtTest>

#include <QDir>
#include <QProcess>

#include "app/command_line.h"

using tintrava::CommandLine;

Q_DECLARE_METATYPE(CommandLine::Action)

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLine::Action>("action");
        QTest::addColumn<QString>("file");    // relative to the working folder
        QTest::addColumn<QString>("output");  // a part of it
        QTest::newRow("nothing") << QStringList{} << CommandLine::Run << "" << "";
        QTest::newRow("a file") << QStringList{"a.tintrava"} << CommandLine::Run << "a.tintrava" << "";
        QTest::newRow("a csv file") << QStringList{"/tmp/x y.csv"} << CommandLine::Run << "/tmp/x y.csv" << "";
        QTest::newRow("a file named like an option") << QStringList{"--", "-a.tintrava"} << CommandLine::Run
                                                     << "-a.tintrava" << "";
        QTest::newRow("two files: the first") << QStringList{"a.tintrava", "b.tintrava"} << CommandLine::Run
                                              << "a.tintrava" << "nur die erste Datei";
        QTest::newRow("--help") << QStringList{"--help"} << CommandLine::Help << "" << "Aufruf: tintrava";
        QTest::newRow("-h with a file") << QStringList{"a.tintrava", "-h"} << CommandLine::Help << "" << "Optionen:";
        QTest::newRow("--version") << QStringList{"--version"} << CommandLine::Version << "" << "Tintrava 1.50\n";
        QTest::newRow("-v") << QStringList{"-v"} << CommandLine::Version << "" << "Tintrava 1.50\n";
        QTest::newRow("unknown long option") << QStringList{"--bunt"} << CommandLine::Error << ""
                                             << "tintrava: unbekannte Option \u201E--bunt\u201C\n";
        QTest::newRow("unknown short option") << QStringList{"-x", "a.tintrava"} << CommandLine::Error << ""
                                              << "unbekannte Option \u201E-x\u201C";
        QTest::newRow("unknown and help") << QStringList{"--bunt", "--help"} << CommandLine::Error << ""
                                          << "\u201E--bunt\u201C";
        QTest::newRow("value for a flag") << QStringList{"--help=ja"} << CommandLine::Error << ""
                                          << "tintrava: ung\u00FCltige Befehlszeile: Die Option \u201E--help\u201C "
                                             "nimmt keinen Wert an.";
        QTest::newRow("value for -v") << QStringList{"-v=1"} << CommandLine::Error << "" << "\u201E-v\u201C nimmt keinen";
    }
    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLine::Action, action);
        QFETCH(QString, file);
        QFETCH(QString, output);
        const CommandLine parsed = tintrava::parseCommandLine(QStringList{"tintrava"} + arguments);
        QCOMPARE(parsed.action, action);
        QCOMPARE(parsed.file, file.isEmpty() ? QString() : QDir::current().absoluteFilePath(file));
        if (output.isEmpty())
            QCOMPARE(parsed.output, QString());
        else
            QVERIFY2(parsed.output.contains(output), qPrintable(parsed.output));
    }

    // Qt's own options are left out before QApplication exists; ours and
    // files stay, in order.
    void withoutQtOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("none") << QStringList{"a.tintrava", "--help"} << QStringList{"a.tintrava", "--help"};
        QTest::newRow("value after a blank") << QStringList{"-platform", "offscreen", "a.tintrava"}
                                             << QStringList{"a.tintrava"};
        QTest::newRow("value after =") << QStringList{"-style=Fusion", "--bunt"} << QStringList{"--bunt"};
        QTest::newRow("two dashes") << QStringList{"--platform", "xcb", "-v"} << QStringList{"-v"};
        QTest::newRow("flags") << QStringList{"-reverse", "-widgetcount", "a"} << QStringList{"a"};
        QTest::newRow("a file after --") << QStringList{"--", "-platform"} << QStringList{"--", "-platform"};
        QTest::newRow("unknown stays") << QStringList{"-x", "-platformx"} << QStringList{"-x", "-platformx"};
    }
    void withoutQtOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, left);
        QCOMPARE(tintrava::withoutQtOptions(QStringList{"tintrava"} + arguments), QStringList{"tintrava"} + left);
    }

    void realProgram_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("display");  // whether a (offscreen) platform is there
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("--help") << QStringList{"--help"} << true << 0 << "Aufruf: tintrava [Optionen] [DATEI]" << "";
        QTest::newRow("--help without a display") << QStringList{"--help"} << false << 0 << "Zeigt diese Hilfe an."
                                                  << "";
        QTest::newRow("--version without a display") << QStringList{"--version"} << false << 0 << "Tintrava 1.50\n"
                                                     << "";
        QTest::newRow("--help after a Qt option") << QStringList{"-platform", "offscreen", "--help"} << true << 0
                                                  << "Optionen:" << "";
        QTest::newRow("unknown option") << QStringList{"--bunt"} << true << 2 << ""
                                        << "tintrava: unbekannte Option \u201E--bunt\u201C";
        // A wrong option is told before a missing display would be.
        QTest::newRow("unknown option without a display") << QStringList{"--bunt"} << false << 2 << ""
                                                          << "tintrava: unbekannte Option \u201E--bunt\u201C";
        QTest::newRow("value for --help without a display") << QStringList{"--help=ja"} << false << 2 << ""
                                                            << "nimmt keinen Wert an";
        QTest::newRow("Qt option and a wrong one without a display")
            << QStringList{"-platform", "xcb", "--bunt"} << false << 2 << "" << "\u201E--bunt\u201C";
        QTest::newRow("-v without a display") << QStringList{"-v"} << false << 0 << "Tintrava 1.50\n" << "";
    }
    void realProgram()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, display);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const QString program = qEnvironmentVariable("TINTRAVA_BUILD_DIR") + "/tintrava";
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
        // Folders of its own: another copy of Tintrava (the user's, another
        // test's) must not answer in its place nor see its settings.
        QTemporaryDir own;
        QVERIFY(own.isValid());
        for (const char *folder : {"home", "config", "runtime"})
            QVERIFY(QDir(own.path()).mkdir(folder));
        QVERIFY(QFile::setPermissions(own.filePath("runtime"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcess process;
        process.setWorkingDirectory(own.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "C.UTF-8");
        env.insert("HOME", own.filePath("home"));
        env.insert("XDG_CONFIG_HOME", own.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", own.filePath("runtime"));
        if (display) {
            env.insert("QT_QPA_PLATFORM", "offscreen");
        } else {
            // A window system that is not there: the program would fail to start.
            env.insert("QT_QPA_PLATFORM", "xcb");
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
        }
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        QVERIFY(process.waitForFinished(60000));
        const QString stdOut = QString::fromUtf8(process.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == status, qPrintable(QString("exit %1\n%2").arg(process.exitCode()).arg(stdErr)));
        if (out.isEmpty())
            QCOMPARE(stdOut, QString());
        else
            QVERIFY2(stdOut.contains(out), qPrintable(stdOut));
        if (!err.isEmpty())
            QVERIFY2(stdErr.contains(err), qPrintable(stdErr));
    }
};

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
