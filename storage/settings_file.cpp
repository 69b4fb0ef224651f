#include "storage/settings_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "storage/atomic_save.h"
#include "storage/config_location.h"

namespace tintrava {

namespace {

QString g_configDirectory;

QString readFailed(const QString &path, const QString &reason)
{
    return QStringLiteral("Die Datei \u201E%1\u201C konnte nicht gelesen werden: %2")
        .arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

QString configDirectory()
{
    if (!g_configDirectory.isEmpty())
        return g_configDirectory;
    return QFileInfo(QString::fromStdString(configPath())).absolutePath();
}

void setConfigDirectory(const QString &dir)
{
    g_configDirectory = dir;
}

QString configFilePath()
{
    return QDir(configDirectory()).filePath(QStringLiteral("my.conf"));
}

ConfigLine readConfigLine()
{
    ConfigLine result;
    const QString path = configFilePath();
    const QFileInfo info(path);
    if (!info.exists())
        return result;

    // A pipe or device would block or never end; only plain files (and
    // folders, which fail to open with the system's own reason) are opened.
    if (!info.isFile() && !info.isDir()) {
        result.status = ConfigLine::Failed;
        result.errorText = readFailed(path, QStringLiteral("keine gewöhnliche Datei"));
        return result;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = ConfigLine::Failed;
        result.errorText = readFailed(path, file.errorString());
        return result;
    }
    const QByteArray head = file.read(ConfigReadLimit);
    if (file.error() != QFileDevice::NoError) {
        result.status = ConfigLine::Failed;
        result.errorText = readFailed(path, file.errorString());
        return result;
    }
    file.close();

    qsizetype end = 0;
    while (end < head.size() && head[end] != '\n' && head[end] != '\r')
        ++end;
    result.status = ConfigLine::Read;
    result.line = head.left(end);
    return result;
}

bool writeConfigNumber(int number, QString *errorText)
{
    const QString dir = configDirectory();
    const QString path = QDir(dir).filePath(QStringLiteral("my.conf"));
    // The first save of an installed program creates its config folder.
    if (g_configDirectory.isEmpty() && !QDir().mkpath(dir)) {
        if (errorText)
            *errorText = writeFailedText(path, QStringLiteral("Der Ordner \u201E%1\u201C konnte nicht angelegt werden.")
                                               .arg(QDir::toNativeSeparators(dir)));
        return false;
    }
#ifdef Q_OS_WIN
    const QByteArray lineEnd("\r\n");
#else
    const QByteArray lineEnd("\n");
#endif
    const QByteArray content = QByteArray::number(number) + lineEnd;

    return saveFileAtomically(path, content, errorText);
}

} // namespace tintrava
