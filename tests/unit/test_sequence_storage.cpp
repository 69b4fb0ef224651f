// Sequence files on disk: what is refused before or while reading and with
// which sentence, the atomic save (a failed save keeps the old file), and the
// name a save gets when typed without extension.
#include <QtTest>

#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include "sequence/sequence_files.h"
#include "storage/sequence_storage.h"
#include "storage/settings_file.h"

namespace {

const QByteArray Good = "\xEF\xBB\xBF" "FarbNr;Bezeichnung;Minuten\r\n5;Orange;10\r\n13;442 nm;5\r\n";


QString opened(const QString &path)
{
    return QString("Die Datei \u201E%1\u201C konnte nicht ge\u00F6ffnet werden: ").arg(QDir::toNativeSeparators(path));
}

} // namespace

class TestSequenceStorage : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void loadsAFile()
    {
        const QString path = m_dir->filePath("a.tintrava");
        writeFile(path, Good);
        const auto loaded = tintrava::loadSequenceFile(path);
        QVERIFY2(loaded.ok, qPrintable(loaded.errorText));
        QCOMPARE(loaded.steps.size(), size_t(2));
        QCOMPARE(loaded.steps[1].name, std::string("442 nm"));
        QCOMPARE(loaded.steps[1].minutes, 5);
    }

    // Each refusal names the file and says what is wrong, in German.
    void refusals_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing" << "Die Datei gibt es nicht.";
        QTest::newRow("folder") << "folder" << "Das ist ein Ordner.";
        QTest::newRow("bad line") << "bad line" << "Zeile 3: unbekannte Farbnummer \u201E14\u201C";
        QTest::newRow("over the size limit") << "big" << "Die Datei ist gr\u00F6\u00DFer als 64 MiB.";
#ifdef Q_OS_LINUX
        QTest::newRow("pipe") << "pipe" << "Das ist keine gew\u00F6hnliche Datei.";
#endif
    }
    void refusals()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString path = m_dir->filePath("x.tintrava");
        if (kind == "folder") {
            QVERIFY(QDir(m_dir->path()).mkdir("x.tintrava"));
        } else if (kind == "bad line") {
            writeFile(path, "FarbNr;Bezeichnung;Minuten\n1;Rot;1\n14;Rot;1\n");
        } else if (kind == "big") {
            // Sparse: the limit is checked before reading, so this costs nothing.
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(qint64(tintrava::SequenceFileLimit) + 1));
        } else if (kind == "pipe") {
#ifdef Q_OS_LINUX
            // Opening a pipe for reading would wait for a writer forever.
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
        }
        const auto loaded = tintrava::loadSequenceFile(path);
        QVERIFY(!loaded.ok);
        QCOMPARE(loaded.errorText, opened(path) + reason);
    }

    // A file of exactly the limit is read (and refused here for its first
    // byte, which keeps the test quick); one byte more is refused unread.
    void exactlyTheLimitIsRead()
    {
        const QString path = m_dir->filePath("limit.tintrava");
        QByteArray bytes = "\xFF" "FarbNr;Bezeichnung;Minuten\n";
        bytes += QByteArray(qsizetype(tintrava::SequenceFileLimit) - bytes.size(), '\n');
        writeFile(path, bytes);
        QCOMPARE(tintrava::loadSequenceFile(path).errorText, opened(path) + "Zeile 1: kein g\u00FCltiger UTF-8-Text. Bitte als CSV mit Semikolon als Trennzeichen und UTF-8 speichern.");
        writeFile(path, bytes + "\n");
        QCOMPARE(tintrava::loadSequenceFile(path).errorText,
                 opened(path) + "Die Datei ist gr\u00F6\u00DFer als 64 MiB.");
    }

    // The largest sequence the editor builds, of its longest steps, is
    // saved and opened again as it was.
    void largestSequenceSavesAndOpens()
    {
        const std::vector<tintrava::SequenceStep> steps(
            tintrava::MaxSequenceSteps,
            tintrava::SequenceStep{13, std::string(tintrava::MaxAnswerLength - 3, ' ') + "750 nm", -2147483647 - 1});
        const QString path = m_dir->filePath("largest.tintrava");
        QString error;
        QVERIFY2(tintrava::saveSequenceFile(path, steps, &error), qPrintable(error));
        QVERIFY(QFileInfo(path).size() > qint64(50) * 1000 * 1000);
        const auto loaded = tintrava::loadSequenceFile(path);
        QVERIFY2(loaded.ok, qPrintable(loaded.errorText));
        QVERIFY(loaded.steps == steps);
    }

    void savesTheWrittenForm()
    {
        const QString path = m_dir->filePath("s.tintrava");
        writeFile(path, "old");
        QString error;
        QVERIFY(tintrava::saveSequenceFile(path, {{5, "Orange", 10}, {13, "442 nm", 5}}, &error));
        QCOMPARE(fileContents(path), Good);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"s.tintrava"});
    }

    void lastSequenceBesideMyConf()
    {
        tintrava::setConfigDirectory(m_dir->path());
        QCOMPARE(tintrava::lastSequenceFilePath(), m_dir->filePath("letzte-abfolge.tintrava"));
        QCOMPARE(QFileInfo(tintrava::lastSequenceFilePath()).absolutePath(),
                 QFileInfo(tintrava::configFilePath()).absolutePath());
        tintrava::setConfigDirectory(QString());
    }

#ifdef Q_OS_LINUX
    // The disk refuses the new contents (a file size limit, which binds root
    // too): the error names the file and the old file survives whole.
    void failedSaveKeepsOldFile()
    {
        const QString path = m_dir->filePath("s.tintrava");
        writeFile(path, Good);
        struct rlimit old {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = old;
        tiny.rlim_cur = 10;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        QString error;
        const bool saved = tintrava::saveSequenceFile(path, {{1, "Rot", 1}, {2, "Grün", 2}}, &error);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!saved);
        QVERIFY2(error.startsWith(QString("Die Datei \u201E%1\u201C konnte nicht geschrieben werden: ").arg(path)),
                 qPrintable(error));
        QCOMPARE(fileContents(path), Good);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"s.tintrava"});
    }
#endif

    void defaultExtension_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("no extension") << "/a/abfolge" << "/a/abfolge.tintrava";
        QTest::newRow("tintrava") << "/a/abfolge.tintrava" << "/a/abfolge.tintrava";
        QTest::newRow("csv") << "/a/abfolge.csv" << "/a/abfolge.csv";
        QTest::newRow("other extension") << "/a/abfolge.txt" << "/a/abfolge.txt";
        QTest::newRow("dot in a folder only") << "/a.b/abfolge" << "/a.b/abfolge.tintrava";
        QTest::newRow("hidden file") << "/a/.abfolge" << "/a/.abfolge.tintrava";
        QTest::newRow("trailing dot") << "/a/abfolge." << "/a/abfolge.tintrava";
    }
    void defaultExtension()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QCOMPARE(QString::fromStdString(tintrava::withDefaultExtension(typed.toStdString())), saved);
    }

    // The save dialog's filter decides the extension of a bare name, and a
    // file's name decides which filter the dialog shows first.
    void extensionOfTheFilter_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("saved");
        const QString csv = "CSV (Semikolon) (*.csv)";
        const QString tintrava = "Tintrava-Abfolge (*.tintrava)";
        QTest::newRow("CSV, no extension") << "/a/abfolge" << csv << "/a/abfolge.csv";
        QTest::newRow("CSV, trailing dot") << "/a/abfolge." << csv << "/a/abfolge.csv";
        QTest::newRow("CSV, tintrava typed") << "/a/abfolge.tintrava" << csv << "/a/abfolge.tintrava";
        QTest::newRow("Tintrava, no extension") << "/a/abfolge" << tintrava << "/a/abfolge.tintrava";
        QTest::newRow("Tintrava, csv typed") << "/a/abfolge.csv" << tintrava << "/a/abfolge.csv";
        QTest::newRow("no filter") << "/a/abfolge" << "" << "/a/abfolge.tintrava";
    }
    void extensionOfTheFilter()
    {
        QFETCH(QString, typed);
        QFETCH(QString, filter);
        QFETCH(QString, saved);
        const std::string extension = tintrava::extensionOfFilter(filter.toStdString());
        QCOMPARE(QString::fromStdString(tintrava::withDefaultExtension(typed.toStdString(), extension)), saved);
    }

    void filterOfAPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("filter");
        QTest::newRow("csv") << "/a/abfolge.csv" << "CSV (Semikolon) (*.csv)";
        QTest::newRow("CSV in capitals") << "/a/ABFOLGE.CSV" << "CSV (Semikolon) (*.csv)";
        QTest::newRow("tintrava") << "/a/abfolge.tintrava" << "Tintrava-Abfolge (*.tintrava)";
        QTest::newRow("other") << "/a/abfolge.txt" << "Tintrava-Abfolge (*.tintrava)";
        QTest::newRow("a name csv without dot") << "/a/csv" << "Tintrava-Abfolge (*.tintrava)";
        QTest::newRow("none yet") << "" << "Tintrava-Abfolge (*.tintrava)";
    }
    void filterOfAPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, filter);
        QCOMPARE(QString::fromStdString(tintrava::filterOfPath(path.toStdString())), filter);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestSequenceStorage)
#include "test_sequence_storage.moc"
