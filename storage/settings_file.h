#pragma once
// "my.conf": one line holding the lamp model's colour-table row, kept in the
// program's folder.
#include <QString>

namespace tintrava {

// Folder that holds "my.conf": the executable's folder unless set otherwise
// (tests point it at a temporary folder). An empty text restores the default.
QString configDirectory();
void setConfigDirectory(const QString &dir);
QString configFilePath();

// Never read more than this of the file: only its first line matters, and a
// huge or binary file must not stall the start.
inline constexpr qint64 ConfigReadLimit = 4096;

struct ConfigLine {
    enum Status { Missing, Read, Failed };
    Status status = Missing;
    QByteArray line;    // first line, without its line end (Read)
    QString errorText;  // German sentence naming file and reason (Failed)
};

// The first line of "my.conf". A first line longer than ConfigReadLimit is
// returned cut there; it cannot hold a sensible number anyway.
ConfigLine readConfigLine();

// Writes "number" plus line end through a temporary file that replaces the
// old one only once completely written, so a failed save keeps the old file.
// On failure returns false and sets errorText.
bool writeConfigNumber(int number, QString *errorText);

} // namespace tintrava
