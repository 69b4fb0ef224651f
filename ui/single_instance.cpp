#include "ui/single_instance.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QStandardPaths>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "sequence/dialogs.h"
#include "storage/instance_channel.h"

namespace tintrava {

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder.isEmpty() ? defaultFolder() : folder),
      m_channel(std::make_unique<InstanceChannel>(QFile::encodeName(m_folder).toStdString()))
{
}

SingleInstance::~SingleInstance()
{
    // The listening thread ends before this object does: nothing it posts
    // can arrive at an object that is gone.
    m_channel.reset();
}

QString SingleInstance::defaultFolder()
{
    // Qt makes the runtime folder the user's own (mode 0700) or gives none.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
#if defined(_WIN32)
    return QDir(QDir::tempPath()).filePath(QStringLiteral("tintrava"));
#else
    return QDir(QDir::tempPath()).filePath(QStringLiteral("tintrava-%1").arg(::getuid()));
#endif
}

QString SingleInstance::lockPath() const
{
    return QFile::decodeName(QByteArray::fromStdString(m_channel->lockPath()));
}

QString SingleInstance::socketPath() const
{
    return QFile::decodeName(QByteArray::fromStdString(m_channel->channelPath()));
}

void SingleInstance::startListening()
{
    m_channel->startListening();
}

SingleInstance::Claim SingleInstance::claim()
{
    // Called on the channel's thread; what it hands over is dealt with on
    // this object's thread, in order, when the event loop gets to it.
    const InstanceChannel::Claim claim = m_channel->claim([this](const std::vector<std::string> &files) {
        QStringList paths;
        for (const std::string &file : files)
            paths << QString::fromStdString(file);
        QMetaObject::invokeMethod(this, [this, paths] { deliver(paths); }, Qt::QueuedConnection);
    }, listenLater ? InstanceChannel::Listening::Later : InstanceChannel::Listening::Now);
    m_errorText = QString::fromStdString(m_channel->errorText());
    switch (claim) {
    case InstanceChannel::Claimed:
        return Claimed;
    case InstanceChannel::AlreadyRunning:
        return AlreadyRunning;
    case InstanceChannel::Unavailable:
        break;
    }
    return Unavailable;
}

bool SingleInstance::handOver(const QStringList &files, int timeoutMs)
{
    std::vector<std::string> names;
    names.reserve(size_t(files.size()));
    for (const QString &file : files)
        names.push_back(file.toStdString());
    return m_channel->handOver(names, timeoutMs);
}

void SingleInstance::deliver(const QStringList &files)
{
    if (bringToFront)
        bringToFront();
    for (const QString &path : files)
        if (!path.isEmpty() && openHandedFile)
            openHandedFile(path);
}

bool startOnlyOnce(SingleInstance &instance, Dialogs &dialogs, const QStringList &arguments,
                   const QString &workingDir, QString *warning)
{
    const SingleInstance::Claim claim = instance.claim();
    if (warning)
        *warning = instance.errorText();
    if (claim != SingleInstance::AlreadyRunning)
        return true;
    // Files go to the running copy, which comes to the front with them: the
    // user sees where they went. Without files, or when the running copy
    // does not answer, the box tells the user why nothing else happens.
    const QStringList files = filesFromArguments(arguments, workingDir);
    const bool handed = instance.handOver(files);
    if (!handed || files.isEmpty())
        dialogs.showMessage("Tintrava l\u00E4uft bereits.");
    return false;
}

QStringList filesFromArguments(const QStringList &arguments, const QString &workingDir)
{
    QStringList files;
    const QDir dir(workingDir);
    bool onlyFiles = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (!onlyFiles && argument == QLatin1String("--")) {
            onlyFiles = true;
            continue;
        }
        if (argument.isEmpty() || (!onlyFiles && argument.startsWith(QLatin1Char('-'))))
            continue;
        files << QDir::cleanPath(dir.absoluteFilePath(argument));
    }
    return files;
}

} // namespace tintrava
