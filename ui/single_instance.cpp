#include "ui/single_instance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>

#include "sequence/dialogs.h"

namespace tintrava {

namespace {

// Every message starts with this line, so a stray connection (a port
// scanner, another program's client) is ignored rather than obeyed.
const QByteArray MessageHeader = QByteArrayLiteral("io.github.tintrava.Tintrava 1\n");
constexpr int ConnectionTimeoutMs = 10000;

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder.isEmpty() ? defaultFolder() : folder)
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

QString SingleInstance::defaultFolder()
{
    // Qt makes the runtime folder the user's own (mode 0700) or gives none.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    return QDir(QDir::tempPath()).filePath(QStringLiteral("tintrava-%1").arg(::getuid()));
}

QString SingleInstance::lockPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("io.github.tintrava.Tintrava.lock"));
}

QString SingleInstance::socketPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("io.github.tintrava.Tintrava.socket"));
}

SingleInstance::Claim SingleInstance::claim()
{
    const QFileInfo folder(m_folder);
    if (!folder.exists()) {
        // Only the fallback folder in the temporary folder is ever made here,
        // and only for this user.
        if (!QDir().mkpath(m_folder)
            || !QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
            m_errorText = QStringLiteral("Der Ordner \u201E%1\u201C konnte nicht angelegt werden; "
                                         "ein zweiter Start wird nicht erkannt.")
                              .arg(QDir::toNativeSeparators(m_folder));
            return Unavailable;
        }
    } else if (QFileInfo(m_folder).ownerId() != ::getuid()) {
        // Someone else's folder: a lock there could be planted or taken away.
        m_errorText = QStringLiteral("Der Ordner \u201E%1\u201C geh\u00F6rt einem anderen Benutzer; "
                                     "ein zweiter Start wird nicht erkannt.")
                          .arg(QDir::toNativeSeparators(m_folder));
        return Unavailable;
    }

    m_lock = std::make_unique<QLockFile>(lockPath());
    // A running copy keeps its lock however long it runs; only a lock whose
    // process is gone counts as left over.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError)
            return AlreadyRunning;
        m_errorText = QStringLiteral("Die Sperrdatei \u201E%1\u201C konnte nicht angelegt werden; "
                                     "ein zweiter Start wird nicht erkannt.")
                          .arg(QDir::toNativeSeparators(lockPath()));
        return Unavailable;
    }

    // The lock is ours, so a socket still there was left by a copy that crashed.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    if (!m_server->listen(socketPath())) {
        // Still the only copy: a later start ends all the same, it just
        // cannot bring this one to the front.
        m_errorText = QStringLiteral("Auf \u201E%1\u201C kann nicht gewartet werden: %2")
                          .arg(QDir::toNativeSeparators(socketPath()), m_server->errorString());
    }
    return Claimed;
}

bool SingleInstance::handOver(const QStringList &files, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message = MessageHeader;
    for (const QString &file : files)
        message += QFile::encodeName(file) + '\0';
    if (message.size() > MaxMessageBytes)
        message = MessageHeader; // too many files to hand over: at least come to the front
    socket.write(message);
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(timeoutMs))
            return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState && !socket.waitForDisconnected(timeoutMs))
        return false;
    return true;
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        struct Pending {
            QByteArray data;
            bool dropped = false;
        };
        auto pending = std::make_shared<Pending>();
        auto drop = [socket, pending] {
            pending->dropped = true;
            pending->data.clear();
            socket->abort();
        };
        // A client that never finishes must not hold a connection for ever.
        QTimer::singleShot(ConnectionTimeoutMs, socket, drop);
        connect(socket, &QLocalSocket::readyRead, socket, [socket, pending, drop] {
            if (pending->dropped)
                return;
            pending->data += socket->readAll();
            if (pending->data.size() > MaxMessageBytes)
                drop();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, pending] {
            if (!pending->dropped) {
                pending->data += socket->readAll();
                if (pending->data.size() <= MaxMessageBytes)
                    deliver(pending->data);
            }
            socket->deleteLater();
        });
    }
}

void SingleInstance::deliver(const QByteArray &message)
{
    if (!message.startsWith(MessageHeader))
        return;
    if (bringToFront)
        bringToFront();
    const QByteArray body = message.mid(MessageHeader.size());
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype end = body.indexOf('\0', start);
        if (end < 0)
            break; // cut off: a path without its end is not trusted
        const QString path = QFile::decodeName(body.mid(start, end - start));
        if (!path.isEmpty() && openHandedFile)
            openHandedFile(path);
        start = end + 1;
    }
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
