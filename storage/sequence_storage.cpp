#include "storage/sequence_storage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "storage/atomic_save.h"
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
    const QFileInfo info(path);
    if (!info.exists())
        return refused(path, QStringLiteral("Die Datei gibt es nicht."));
    if (info.isDir())
        return refused(path, QStringLiteral("Das ist ein Ordner."));
    // A pipe or device could block or never end.
    if (!info.isFile())
        return refused(path, QStringLiteral("Das ist keine gew\u00F6hnliche Datei."));
    // Refused before reading, so a huge file costs nothing.
    if (info.size() > qint64(SequenceFileLimit))
        return refused(path, tooLarge());

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::PermissionsError)
            return refused(path, QStringLiteral("Keine Berechtigung zum Lesen."));
        return refused(path, file.errorString());
    }
    // One byte more than allowed tells a file that grew since it was looked at.
    const QByteArray bytes = file.read(qint64(SequenceFileLimit) + 1);
    if (file.error() != QFileDevice::NoError)
        return refused(path, QStringLiteral("Lesefehler (%1)").arg(file.errorString()));
    if (bytes.size() > qsizetype(SequenceFileLimit))
        return refused(path, tooLarge());

    const SequenceFileParse parse = readSequenceFile(std::string_view(bytes.constData(), size_t(bytes.size())));
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

bool DiskSequenceStore::saveLast(const std::vector<SequenceStep> &steps)
{
    // A settings folder in the user's home may not exist before the first save.
    QDir().mkpath(configDirectory());
    return saveSequenceFile(lastSequenceFilePath(), steps, nullptr);
}

} // namespace tintrava
