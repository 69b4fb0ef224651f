#pragma once
// "my.conf": one line holding the lamp model's colour-table row, kept in the
// program's folder (a portable copy) or in the user's config folder (an
// installed program).
#include <QString>

namespace tintrava {

// Folder that holds "my.conf": see configDirectoryFor, for the running
// program's folder, unless set otherwise (tests point it at a temporary
// folder). An empty text restores the default.
QString configDirectory();
void setConfigDirectory(const QString &dir);
QString configFilePath();

// The program's folder when it already holds "my.conf" or a file can be
// created in it, so a copy in a folder of its own keeps its settings beside
// it; otherwise (an installed program, say in /usr/bin) userConfigDir.
// canCreateFileIn decides whether programDir is writable.
QString configDirectoryFor(const QString &programDir, const QString &userConfigDir,
                           bool (*canCreateFileIn)(const QString &dir));

// $XDG_CONFIG_HOME/tintrava, by default ~/.config/tintrava; empty when
// there is no home folder.
QString userConfigDirectory();

// True when a file can be created in dir right now: tried, not guessed from
// permission bits, which neither root nor read-only mounts honour. Leaves
// nothing behind.
bool canCreateFileIn(const QString &dir);

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
// The user's config folder is created when missing; the program's folder,
// or a folder set by setConfigDirectory, must exist.
// On failure returns false and sets errorText.
bool writeConfigNumber(int number, QString *errorText);

} // namespace tintrava
