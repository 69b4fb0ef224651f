#include "storage/atomic_save.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "storage/config_location.h"

namespace tintrava {

QString writeFailedText(const QString &path, const QString &reason)
{
    return QStringLiteral("Die Datei \u201E%1\u201C konnte nicht geschrieben werden: %2")
        .arg(QDir::toNativeSeparators(path), reason);
}

bool saveFileAtomically(const QString &path, const QByteArray &content, QString *errorText)
{
    QSaveFile file(path);
    // Unbuffered, so that a failing write is seen here and not lost in the
    // final flush, which the commit would not notice.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (errorText)
            *errorText = writeFailedText(path, file.errorString());
        return false;
    }
    qint64 written = 0;
    while (written < content.size()) {
        const qint64 n = file.write(content.constData() + written, content.size() - written);
        if (n <= 0) {
            if (errorText)
                *errorText = writeFailedText(path, file.errorString());
            file.cancelWriting();
            return false;
        }
        written += n;
    }
    if (!file.commit()) {
        if (errorText)
            *errorText = writeFailedText(path, file.errorString());
        return false;
    }
    return true;
}

namespace {

// Overwrites the file's bytes from the start and cuts it to the new length,
// so that a short file is never empty on the way.
bool overwriteInPlace(const QString &path, const QByteArray &content, QString *errorText)
{
    QFile file(path);
    const auto fail = [&] {
        if (errorText)
            *errorText = writeFailedText(path, file.errorString());
        return false;
    };
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return fail();
    qint64 written = 0;
    while (written < content.size()) {
        const qint64 n = file.write(content.constData() + written, content.size() - written);
        if (n <= 0)
            return fail();
        written += n;
    }
    if (!file.resize(content.size()))
        return fail();
    file.close();
    if (file.error() != QFileDevice::NoError)
        return fail();
    return true;
}

} // namespace

bool saveFileAtomicallyOrInPlace(const QString &path, const QByteArray &content, QString *errorText)
{
    QString atomicError;
    if (saveFileAtomically(path, content, &atomicError))
        return true;
    // Only a file that is there, in a folder that takes no new file: any
    // other failure is reported as it is. Qt's own fallback is not used: it
    // exists on Unix only and not for every way a folder can refuse.
    const QFileInfo info(path);
    if (!info.isFile() || canCreateFileIn(QDir::toNativeSeparators(info.absolutePath()).toStdString())) {
        if (errorText)
            *errorText = atomicError;
        return false;
    }
    return overwriteInPlace(path, content, errorText);
}

} // namespace tintrava
