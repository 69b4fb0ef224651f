#include "storage/atomic_save.h"

#include <QDir>
#include <QSaveFile>

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

} // namespace tintrava
