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

// "--help=ja": the flag's name when an argument gives one of ours a value.
QString flagGivenAValue(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("--"))
            break;
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        if (!arg.startsWith(QLatin1Char('-')) || equals < 0)
            continue;
        const QString name = arg.left(equals);
        for (const char *flag : {"-h", "--help", "-v", "--version"})
            if (name == QLatin1String(flag))
                return name;
    }
    return {};
}

// Qt's own options, as QGuiApplication and QApplication take them out of
// the arguments: with a value (given after a blank or "="), and without one.
// Qt accepts them with one dash or two.
const char *const QtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowicon", "icon", "qwindowtitle", "title", "session", "display", "name", "style", "stylesheet",
    "qmljsdebugger", "dialogs", "fontengine",
};
const char *const QtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "testability", "sync"};

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
        } else if (const QString flag = flagGivenAValue(arguments); !flag.isEmpty()) {
            result.output = QStringLiteral("tintrava: ung\u00FCltige Befehlszeile: Die Option \u201E%1\u201C nimmt "
                                           "keinen Wert an.\n")
                                .arg(flag);
        } else {
            // Whatever else Qt found wrong, in its words.
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

QStringList withoutQtOptions(const QStringList &arguments)
{
    QStringList out;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (i == 0 || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            out << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            out << arguments.mid(i);
            break;
        }
        QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        const bool hasValue = equals >= 0;
        if (hasValue)
            name.truncate(equals);
        bool qts = false;
        for (const char *option : QtOptionsWithValue) {
            if (name == QLatin1String(option)) {
                qts = true;
                if (!hasValue)
                    ++i; // its value follows
            }
        }
        for (const char *flag : QtFlags)
            qts = qts || (!hasValue && name == QLatin1String(flag));
        if (!qts)
            out << arg;
    }
    return out;
}

} // namespace tintrava
