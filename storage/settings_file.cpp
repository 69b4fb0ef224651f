#include "storage/settings_file.h"

#include <QDir>
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
    // Read as the player without a window reads it: a pipe or device is
    // refused unopened, and only the head of the file is read.
    ConfigLine result;
    const QString path = configFilePath();
    const ConfigRead read = readConfigHead(path.toStdString());
    switch (read.status) {
    case ConfigRead::Missing:
        return result;
    case ConfigRead::Failed:
        result.status = ConfigLine::Failed;
        result.errorText = readFailed(path, QString::fromStdString(read.error));
        return result;
    case ConfigRead::Read:
        break;
    }
    const std::size_t end = read.head.find_first_of("\r\n");
    result.status = ConfigLine::Read;
    result.line = QByteArray::fromStdString(read.head.substr(0, end));
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

    return saveFileAtomicallyOrInPlace(path, content, errorText);
}

} // namespace tintrava
