#pragma once
// Saving a file so that it is either written completely or not at all: the
// contents go to a temporary file beside it, which replaces the old file only
// once every byte is on disk. A failed save leaves the old file as it was.
#include <QByteArray>
#include <QString>

namespace tintrava {

// Writes content to path. On failure returns false and sets errorText (when
// given) to a German sentence naming the file and the reason.
bool saveFileAtomically(const QString &path, const QByteArray &content, QString *errorText);

// For a settings file that must stay where it is: saved as above when its
// folder takes a new file; when it does not (a portable copy on a shared
// drive where the user may write the file but not the folder), the existing
// file is overwritten in place. A sequence file never takes this way: there
// a half-written file would lose the user's work.
bool saveFileAtomicallyOrInPlace(const QString &path, const QByteArray &content, QString *errorText);

// "Die Datei „path“ konnte nicht geschrieben werden: reason"
QString writeFailedText(const QString &path, const QString &reason);

} // namespace tintrava
