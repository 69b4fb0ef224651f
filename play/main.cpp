// tintrava-play: plays a sequence file on the lamp without a window, for a
// computer without a screen or a timer job. Same driver choice, discovery,
// protocols, colour table and player rules as the window.
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/d2xx/driver_loader.h"
#include "lamp/d2xx/libftdi_binding.h"
#include "lamp/integer_rule.h"
#include "lamp/lampstate.h"
#include "lamp/protocols.h"
#include "play/console.h"
#include "sequence/memory_grid.h"
#include "sequence/player.h"
#include "sequence/sequence_file.h"
#include "storage/config_location.h"

#ifndef TINTRAVA_VERSION
#define TINTRAVA_VERSION "?"
#endif

namespace {

using namespace tintrava;

constexpr int ExitDone = 0;
constexpr int ExitBadFile = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130;

// One byte past the largest accepted file, so that the reader sees a file
// that is too large without the player reading all of it.
constexpr std::size_t SequenceReadLimit = SequenceFileLimit + 1;

constexpr const char *Program = "tintrava-play";

void say(const std::string &text)
{
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void complain(const std::string &text)
{
    std::fprintf(stderr, "%s: %s\n", Program, text.c_str());
}

std::string quoted(const std::string &text)
{
    return "\u201E" + text + "\u201C";
}

std::string helpText()
{
    return "Aufruf: tintrava-play [--modell N] DATEI\n"
           "\n"
           "Spielt die Abfolge aus DATEI (eine .tintrava- oder .csv-Datei, wie das\n"
           "Fenster sie speichert) ohne Fenster auf der Lampe ab: jede Sekunde wird die\n"
           "Farbe des laufenden Schritts gesendet, am Ende wird die Lampe ausgeschaltet.\n"
           "\n"
           "Optionen:\n"
           "  --modell N      Lampenmodell, wie im Dialog \u201EHarware anpassen\u201C gespeichert:\n"
           "                  1 Nivra Kegel (klein), 2 Nivra Kegel (gro\u00DF), 3 Nivra S\u00E4ule,\n"
           "                  4 Nivra Strahler. Ohne diese Option gilt die Auswahl aus\n"
           "                  \u201Emy.conf\u201C (" + configPath() + ").\n"
           "  -h, --help      diese Hilfe anzeigen\n"
           "  -V, --version   die Version anzeigen\n"
           "\n"
           "Strg+C schaltet die Lampe aus und beendet das Abspielen.\n"
           "\n"
           "Treiber: die in TINTRAVA_D2XX_LIBRARY genannte Bibliothek, sonst FTDIs\n"
           "D2XX-Bibliothek, sonst (unter Linux) die eingebaute Anbindung an libftdi1.\n"
           "\n"
           "R\u00FCckgabewerte: 0 Abfolge ganz abgespielt, 1 Datei nicht lesbar oder keine\n"
           "g\u00FCltige Abfolge, 2 falscher Aufruf oder kein Lampenmodell, 130 abgebrochen.\n";
}

struct Options {
    bool help = false;
    bool version = false;
    std::optional<int> model;
    std::string file;
};

// false after naming the fault on standard error.
bool parseOptions(const std::vector<std::string> &args, Options &options)
{
    std::vector<std::string> files;
    bool onlyFiles = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
        } else if (arg == "--") {
            onlyFiles = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "-V" || arg == "--version") {
            options.version = true;
        } else if (arg == "--modell" || arg.rfind("--modell=", 0) == 0) {
            std::string value;
            if (arg == "--modell") {
                if (i + 1 >= args.size()) {
                    complain("Bei --modell fehlt die Nummer des Lampenmodells (1 bis 4).");
                    return false;
                }
                value = args[++i];
            } else {
                value = arg.substr(9);
            }
            const std::optional<std::int32_t> number = parseInteger(value);
            if (!number || *number < 1 || *number > 4) {
                complain("Das Lampenmodell " + quoted(value) + " gibt es nicht; erlaubt sind 1 bis 4.");
                return false;
            }
            options.model = *number;
        } else {
            complain("Unbekannte Option " + quoted(arg) + ". Hilfe: tintrava-play --help");
            return false;
        }
    }
    if (options.help || options.version)
        return true;
    if (files.size() != 1) {
        complain(files.empty() ? "Keine Abfolge-Datei angegeben. Hilfe: tintrava-play --help"
                               : "Nur eine Abfolge-Datei auf einmal. Hilfe: tintrava-play --help");
        return false;
    }
    options.file = files.front();
    return true;
}

// The colour-table row from --modell or "my.conf", or nothing after saying why.
std::optional<int> chooseHardwareRow(const Options &options)
{
    if (options.model)
        return *options.model;
    const std::string path = configPath();
    const ConfigRead config = readConfigHead(path);
    const std::string advice =
        " Das Lampenmodell im Fenster unter \u201EHarware anpassen\u201C w\u00E4hlen oder mit --modell 1 bis 4 angeben.";
    switch (config.status) {
    case ConfigRead::Missing:
        complain("Kein Lampenmodell gew\u00E4hlt: " + quoted(path) + " gibt es nicht." + advice);
        return std::nullopt;
    case ConfigRead::Failed:
        complain("Die Datei " + quoted(path) + " konnte nicht gelesen werden: " + config.error + "." + advice);
        return std::nullopt;
    case ConfigRead::Read:
        break;
    }
    const int row = hardwareRowFromConfig(config.head);
    if (!validHardwareRow(row)) {
        complain("Kein Lampenmodell gew\u00E4hlt: " + quoted(path) + " enth\u00E4lt keine g\u00FCltige Auswahl." + advice);
        return std::nullopt;
    }
    return row;
}

// Code points, for overwriting the previous terminal line exactly.
std::size_t textWidth(const std::string &text)
{
    std::size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

class Display {
public:
    explicit Display(bool terminal) : m_terminal(terminal) { }

    // The current step; on a terminal one line rewritten in place, otherwise
    // one line when a step begins.
    void step(int row, int steps, const std::string &name, const std::string &remainingStep,
              const std::string &remainingTotal)
    {
        const std::string text = "Schritt " + std::to_string(row) + "/" + std::to_string(steps) + ": " + name
            + " | " + remainingStep + " | " + remainingTotal;
        if (m_terminal) {
            const std::size_t width = textWidth(text);
            std::string line = "\r" + text;
            if (width < m_lineWidth)
                line.append(m_lineWidth - width, ' ');
            m_lineWidth = width;
            say(line);
        } else if (row != m_lastRow) {
            say(play::localTimeText() + " " + text + "\n");
        }
        m_lastRow = row;
    }

    // A line of its own, also on a terminal.
    void message(const std::string &text)
    {
        endLine();
        say((m_terminal ? std::string() : play::localTimeText() + " ") + text + "\n");
    }

private:
    void endLine()
    {
        if (m_terminal && m_lineWidth > 0) {
            say("\n");
            m_lineWidth = 0;
        }
    }

    bool m_terminal;
    std::size_t m_lineWidth = 0;
    int m_lastRow = -1;
};

int playFile(const Options &options)
{
    const std::optional<int> row = chooseHardwareRow(options);
    if (!row)
        return ExitUsage;

    // The file is checked completely before anything goes to the lamp; the
    // messages are the window's.
    std::string bytes;
    std::string reason;
    const auto refuse = [&](const std::string &why) {
        complain("Die Datei " + quoted(options.file) + " konnte nicht ge\u00F6ffnet werden: " + why);
        return ExitBadFile;
    };
    if (!play::readFileHead(options.file, SequenceReadLimit, bytes, reason))
        return refuse(reason);
    if (bytes.size() > SequenceFileLimit)
        return refuse(std::string(SequenceFileTooLarge) + ".");
    const SequenceFileParse parsed = readSequenceFile(bytes);
    if (!parsed.ok)
        return refuse(parsed.error);
    if (parsed.steps.empty()) {
        complain(quoted(options.file) + ": Es sind keine Farben f\u00FCr die Abfolge ausgew\u00E4hlt");
        return ExitBadFile;
    }

    MemoryGrid grid;
    putStepsInGrid(grid, parsed.steps);
    const int steps = int(parsed.steps.size());

    HardwareRow = *row;
    std::string driverWarning;
#if defined(TINTRAVA_HAVE_LIBFTDI1)
    D2XXUnit::setDriver(chooseDriver(&libftdiApi(), driverWarning));
#else
    D2XXUnit::setDriver(chooseDriver(nullptr, driverWarning));
#endif
    if (!driverWarning.empty())
        complain(driverWarning);

    Display display(play::stdoutIsTerminal());
    LampState lamp;
    LampCommander commander(lamp, {});
    bool running = true;
    std::optional<bool> lampSeen;
    std::string remainingStep;
    std::string remainingTotal;

    const auto reportLamp = [&] {
        if (lampSeen == lamp.LampFound)
            return;
        lampSeen = lamp.LampFound;
        display.message(lamp.LampFound ? "Lampe gefunden (Seriennummer " + lamp.LampSerial + ")."
                                       : "Keine Lampe gefunden; die Abfolge l\u00E4uft trotzdem weiter.");
    };

    SequencePlayer player(grid, SequencePlayer::Hooks{
                                    play::localNowDays,
                                    [&](int n) { commander.selectcolor(n); },
                                    [&](const std::string &w) { commander.selectcolor2(w); },
                                    [&] {
                                        running = false;
                                        commander.selectcolor(ColourOff);
                                    },
                                    [&] { return running; },
                                    [&](const std::string &t) { remainingStep = t; },
                                    [&](const std::string &t) { remainingTotal = t; },
                                });

    // Ticks every 1000 ms, like the window's timer: a slow lamp exchange does
    // not shift the ticks after it, and a tick that is missed is not caught up.
    using Clock = std::chrono::steady_clock;
    auto nextTick = Clock::now();
    player.start();
    while (running) {
        nextTick += std::chrono::milliseconds(1000);
        const auto now = Clock::now();
        while (nextTick <= now)
            nextTick += std::chrono::milliseconds(1000);
        const int wait = int(std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now).count());
        if (!play::sleepUnlessInterrupted(wait))
            break;
        player.tick();
        reportLamp();
        if (running)
            display.step(player.SequenceRow, steps, grid.cell(1, player.SequenceRow), remainingStep,
                         remainingTotal);
    }

    // A run that reached its end was switched off by the player already.
    if (running) {
        commander.selectcolor(ColourOff);
        play::interruptHandled();
        display.message("Abgebrochen, die Lampe ist ausgeschaltet.");
        return ExitInterrupted;
    }
    display.message("Abfolge beendet, die Lampe ist ausgeschaltet.");
    return ExitDone;
}

} // namespace

int main(int argc, char **argv)
{
    play::prepareConsole();
    play::installInterruptHandlers();
    Options options;
    if (!parseOptions(play::arguments(argc, argv), options))
        return ExitUsage;
    if (options.help) {
        say(helpText());
        return ExitDone;
    }
    if (options.version) {
        say(std::string("tintrava-play ") + TINTRAVA_VERSION + "\n");
        return ExitDone;
    }
    return playFile(options);
}
