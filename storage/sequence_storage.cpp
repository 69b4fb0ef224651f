#include "storage/sequence_storage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "storage/atomic_save.h"
#include "storage/file_head.h"
#include "storage/settings_file.h"

namespace tintrava {

namespace {

QString openFailed(const QString &path, const QString &reason)
{
    return QStringLiteral("Die Datei \u201E%1\u201C konnte nicht ge\u00F6ffnet werden: %2")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString tooLarge()
{
    return QString::fromUtf8(SequenceFileTooLarge) + QLatin1Char('.');
}

SequenceFileLoad refused(const QString &path, const QString &reason)
{
    SequenceFileLoad result;
    result.errorText = openFailed(path, reason);
    return result;
}

} // namespace

QString lastSequenceFilePath()
{
    return QDir(configDirectory()).filePath(QStringLiteral("letzte-abfolge.tintrava"));
}

SequenceFileLoad loadSequenceFile(const QString &path)
{
    // The same reader as the player without a window: only a regular file is
    // read (a pipe or device could block or never end), and one byte more than
    // allowed tells a file that is too large.
#ifdef Q_OS_WIN
    const std::string name = path.toUtf8().toStdString(); // the reader takes UTF-8 there
#else
    const std::string name = QFile::encodeName(path).toStdString();
#endif
    const FileHead file = readFileHead(name, SequenceFileLimit + 1);
    if (file.status != FileHead::Read)
        return refused(path, QString::fromStdString(fileHeadRefusal(file)));
    if (file.bytes.size() > SequenceFileLimit)
        return refused(path, tooLarge());

    const SequenceFileParse parse = readSequenceFile(file.bytes);
    if (!parse.ok)
        return refused(path, QString::fromStdString(parse.error));
    SequenceFileLoad result;
    result.ok = true;
    result.steps = parse.steps;
    return result;
}

bool saveSequenceFile(const QString &path, const std::vector<SequenceStep> &steps, QString *errorText)
{
    return saveFileAtomically(path, QByteArray::fromStdString(writeSequenceFile(steps)), errorText);
}

SequenceStore::Loaded DiskSequenceStore::load(const std::string &path)
{
    const SequenceFileLoad file = loadSequenceFile(QString::fromStdString(path));
    return Loaded{file.ok, file.steps, file.errorText.toStdString()};
}

bool DiskSequenceStore::save(const std::string &path, const std::vector<SequenceStep> &steps,
                             std::string *errorText)
{
    QString error;
    if (saveSequenceFile(QString::fromStdString(path), steps, &error))
        return true;
    if (errorText)
        *errorText = error.toStdString();
    return false;
}

bool DiskSequenceStore::exists(const std::string &path)
{
    return QFileInfo::exists(QString::fromStdString(path));
}

std::string DiskSequenceStore::lastSequencePath()
{
    return lastSequenceFilePath().toStdString();
}

bool DiskSequenceStore::saveLast(const std::vector<SequenceStep> &steps, std::string *errorText)
{
    // A settings folder in the user's home may not exist before the first save.
    QDir().mkpath(configDirectory());
    QString error;
    if (saveSequenceFile(lastSequenceFilePath(), steps, &error))
        return true;
    if (errorText)
        *errorText = error.toStdString();
    return false;
}

} // namespace tintrava
