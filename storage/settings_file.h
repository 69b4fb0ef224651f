#pragma once
// "my.conf": one line holding the lamp model's colour-table row, kept in the
// program's folder (a portable copy) or in the user's config folder (an
// installed program).
#include <QString>

namespace tintrava {

// Folder that holds "my.conf" for the running program, by the rule the
// player without a window follows too (storage/config_location.h): beside a
// portable copy, in the user's config folder for an installed one. Tests
// point it at a temporary folder; an empty text restores the default.
QString configDirectory();
void setConfigDirectory(const QString &dir);
QString configFilePath();

struct ConfigLine {
    enum Status { Missing, Read, Failed };
    Status status = Missing;
    QByteArray line;    // first line, without its line end (Read)
    QString errorText;  // German sentence naming file and reason (Failed)
};

// The first line of "my.conf". A first line longer than ConfigHeadLimit is
// returned cut there; it cannot hold a sensible number anyway.
ConfigLine readConfigLine();

// Writes "number" plus line end through a temporary file that replaces the
// old one only once completely written, so a failed save keeps the old file.
// An existing file in a folder that takes no new file is overwritten in
// place instead.
// The user's config folder is created when missing; the program's folder,
// or a folder set by setConfigDirectory, must exist.
// On failure returns false and sets errorText.
bool writeConfigNumber(int number, QString *errorText);

} // namespace tintrava
