#include "app/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>

#ifndef TINTRAVA_VERSION
#define TINTRAVA_VERSION "1.50"
#endif

namespace tintrava {

namespace {

const char *const HelpText =
    "Aufruf: tintrava [Optionen] [DATEI]\n"
    "\n"
    "Tintrava spielt zeitgesteuerte Farbabfolgen auf USB-Lampen.\n"
    "\n"
    "Optionen:\n"
    "  -h, --help     Zeigt diese Hilfe an.\n"
    "  -v, --version  Zeigt die Versionsnummer an.\n"
    "\n"
    "Argumente:\n"
    "  DATEI          Abfolge (.tintrava oder .csv), die nach dem Start\n"
    "                 ge\u00F6ffnet wird.\n";

QString dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Zeigt diese Hilfe an."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Zeigt die Versionsnummer an."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("DATEI"), QStringLiteral("Abfolge, die nach dem Start ge\u00F6ffnet wird."),
                                 QStringLiteral("[DATEI]"));

    CommandLine result;
    if (!parser.parse(arguments)) {
        result.action = CommandLine::Error;
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            QStringList named;
            for (const QString &name : unknown)
                named << QStringLiteral("\u201E%1\u201C").arg(dashed(name));
            result.output = (unknown.size() == 1 ? QStringLiteral("tintrava: unbekannte Option %1\n")
                                                 : QStringLiteral("tintrava: unbekannte Optionen %1\n"))
                                .arg(named.join(QStringLiteral(", ")));
        } else {
            // What Qt found wrong, e.g. a value given to --help.
            result.output = QStringLiteral("tintrava: ung\u00FCltige Befehlszeile (%1)\n").arg(parser.errorText());
        }
        result.output += QStringLiteral("Hilfe: tintrava --help\n");
        return result;
    }
    if (parser.isSet(help)) {
        result.action = CommandLine::Help;
        result.output = QString::fromUtf8(HelpText);
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Version;
        result.output = QStringLiteral("Tintrava %1\n").arg(QStringLiteral(TINTRAVA_VERSION));
        return result;
    }
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty()) {
        result.file = QFileInfo(files.constFirst()).absoluteFilePath();
        // A file manager may hand over several files; one sequence fits the grid.
        if (files.size() > 1)
            result.output = QStringLiteral("tintrava: nur die erste Datei wird ge\u00F6ffnet, %1 weitere nicht\n")
                                .arg(files.size() - 1);
    }
    return result;
}

} // namespace tintrava
