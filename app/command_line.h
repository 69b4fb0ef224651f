#pragma once
// The program's command line: "tintrava [DATEI]", "--help" and "--version"
// in German. Parsed by Qt's command-line parser; the texts are the
// program's own, so they are German with or without Qt's translations and
// before any window system is there.
#include <QString>
#include <QStringList>

namespace tintrava {

struct CommandLine {
    enum Action { Run, Help, Version, Error };
    Action action = Run;
    // Run: the sequence file to open after the start-up check, absolute; may be empty.
    QString file;
    // Help and Version: the text for standard output; Error: for standard
    // error; Run: a note for standard error (files beyond the first).
    QString output;
};

// arguments as QCoreApplication::arguments() gives them, the program first.
CommandLine parseCommandLine(const QStringList &arguments);

// The arguments without Qt's own options (-platform offscreen, -style=…,
// -reverse, …), which QApplication takes out: what parseCommandLine may see
// before there is a QApplication.
QStringList withoutQtOptions(const QStringList &arguments);

// Exit status for a command line that could not be understood.
inline constexpr int CommandLineErrorStatus = 2;

} // namespace tintrava
