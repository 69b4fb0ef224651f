// tintrava-play: plays a sequence file on the lamp without a window, for a
// computer without a screen or a timer job. Same driver choice, discovery,
// protocols, colour table and player rules as the window.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/d2xx/driver_loader.h"
#include "lamp/d2xx/libftdi_binding.h"
#include "lamp/discovery.h"
#include "lamp/integer_rule.h"
#include "lamp/lamp_hold.h"
#include "lamp/lampstate.h"
#include "lamp/link_problem.h"
#include "lamp/protocols.h"
#include "play/console.h"
#include "play/output.h"
#include "sequence/memory_grid.h"
#include "sequence/player.h"
#include "sequence/tick_grid.h"
#include "sequence/sequence_file.h"
#include "storage/config_location.h"
#include "storage/file_head.h"

#ifndef TINTRAVA_VERSION
#define TINTRAVA_VERSION "?"
#endif

namespace {

using namespace tintrava;

constexpr int ExitDone = 0;
constexpr int ExitBadFile = 1;
constexpr int ExitUsage = 2;
constexpr int ExitLampNotReached = 3;
constexpr int ExitLampBusy = 4;

// One byte past the largest accepted file, so that the reader sees a file
// that is too large without the player reading all of it.
constexpr std::size_t SequenceReadLimit = SequenceFileLimit + 1;

constexpr const char *Program = "tintrava-play";

// After a signal the process ends within a second, however stuck its output.
constexpr int OutputGraceAfterSignalMs = 200;

// While a sequence may play, everything goes through writer threads (see
// output.h); before that, and for --help, plain blocking writes will do.
struct Streams {
    play::OutputChannel out{play::descriptorWriter(1)};
    play::OutputChannel err{play::descriptorWriter(2)};
};
Streams *g_streams = nullptr;

void say(const std::string &text)
{
    if (g_streams) {
        g_streams->out.text(text);
        return;
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void sayProgress(const std::string &text)
{
    if (g_streams)
        g_streams->out.progress(text);
    else
        say(text);
}

void complain(const std::string &text)
{
    const std::string line = std::string(Program) + ": " + text + "\n";
    if (g_streams) {
        g_streams->err.text(line);
        return;
    }
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
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
           "DATEI muss eine gew\u00F6hnliche Datei sein (keine Pipe, kein Ger\u00E4t).\n"
           "\n"
           "Optionen:\n"
           "  --modell N      Lampenmodell, wie im Dialog \u201EHarware anpassen\u201C gespeichert:\n"
           "                  1 Nivra Kegel (klein), 2 Nivra Kegel (gro\u00DF), 3 Nivra S\u00E4ule,\n"
           "                  4 Nivra Strahler. Ohne diese Option gilt die Auswahl aus\n"
           "                  \u201Emy.conf\u201C (" + configPath() + ").\n"
           "  -h, --help      diese Hilfe anzeigen\n"
           "  -v, --version   die Version anzeigen (auch -V)\n"
           "\n"
           "Strg+C, SIGTERM, SIGHUP und jedes andere Signal, das das Programm beenden\n"
           "w\u00FCrde, schalten zuerst die Lampe aus. Ein beim Start ignoriertes Signal\n"
           "(nohup) bleibt ignoriert.\n"
           "\n"
           "Treiber: die in TINTRAVA_D2XX_LIBRARY genannte Bibliothek, sonst FTDIs\n"
           "D2XX-Bibliothek, sonst (unter Linux) die eingebaute Anbindung an libftdi1.\n"
           "\n"
           "R\u00FCckgabewerte:\n"
           "  0      die Abfolge ist ganz abgespielt und die Lampe ausgeschaltet\n"
           "  1      die Datei ist nicht lesbar oder keine g\u00FCltige Abfolge (oder leer)\n"
           "  2      falscher Aufruf oder kein Lampenmodell gew\u00E4hlt\n"
           "  3      die Lampe wurde nicht erreicht: keine Farbe kam bei ihr an, oder der\n"
           "         Ausschaltbefehl am Ende nicht (keine Lampe, \u00D6ffnen oder Senden\n"
           "         fehlgeschlagen)\n"
           "  4      die Lampe wird von einem anderen Programm verwendet\n"
           "  128+N  durch Signal N beendet, nachdem die Lampe ausgeschaltet wurde\n"
           "         (Strg+C 130, SIGHUP 129, SIGQUIT 131, SIGTERM 143)\n";
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
        } else if (arg == "-v" || arg == "-V" || arg == "--version") {
            options.version = true;
        } else if (arg.rfind("--help=", 0) == 0 || arg.rfind("--version=", 0) == 0) {
            complain("Die Option " + quoted(arg.substr(0, arg.find('='))) + " nimmt keinen Wert an. Hilfe: tintrava-play --help");
            return false;
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
    if (files.front() == "-") {
        // The file is read whole and checked before the lamp hears anything;
        // standard input is no file to check.
        complain("Die Abfolge kommt aus einer Datei, nicht von der Standardeingabe (\u201E-\u201C).");
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
            // Padded to the widest text on this line so far: a stalled
            // terminal may skip some of these, so the one written before is
            // not known.
            const std::size_t width = textWidth(text);
            std::string line = "\r" + text;
            if (width < m_lineWidth)
                line.append(m_lineWidth - width, ' ');
            m_lineWidth = std::max(m_lineWidth, width);
            sayProgress(line);
        } else if (row != m_lastRow) {
            say(play::localTimeText() + " " + text + "\n");
        }
        m_lastRow = row;
    }

    // A line of its own, also on a terminal.
    void message(const std::string &text)
    {
        endLine();
        say(stamp() + text + "\n");
    }

    // A line on standard error, after ending the terminal line.
    void problem(const std::string &text)
    {
        endLine();
        complain(text);
    }

private:
    std::string stamp() const { return m_terminal ? std::string() : play::localTimeText() + " "; }

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

// Why a command did not reach the lamp, for the closing message.
std::string notReachedReason(const LampState &lamp, LampDelivery delivery, LampLinkProblem problem)
{
    if (problem != LampLinkProblem::None)
        return linkProblemToolTip(problem);
    if (!lamp.LampFound || delivery == LampDelivery::NoLamp)
        return "keine Lampe gefunden";
    if (delivery == LampDelivery::WriteFailed)
        return "die Lampe hat den Befehl nicht vollst\u00E4ndig angenommen";
    return "die Lampe lie\u00DF sich nicht \u00F6ffnen";
}

// Waits for the output to be written: without limit after a normal end (the
// lamp is off already), briefly once a signal has come.
void finishOutput(Streams &streams, bool afterSignal)
{
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> deadline;
    if (afterSignal)
        deadline = Clock::now() + std::chrono::milliseconds(OutputGraceAfterSignalMs);
    const auto giveUp = [&] {
        if (!deadline && play::interrupted())
            deadline = Clock::now() + std::chrono::milliseconds(OutputGraceAfterSignalMs);
        return deadline && Clock::now() >= *deadline;
    };
    const bool written = streams.err.drain(giveUp) && streams.out.drain(giveUp);
    if (!written) {
        // A writer is stuck in a stream nobody reads; it cannot be joined.
        // The lamp is off: end without waiting for it.
        std::_Exit(play::interrupted() ? play::interruptStatus(play::interruptSignal()) : 0);
    }
}

int playFile(const Options &options, Streams &streams)
{
    const std::optional<int> row = chooseHardwareRow(options);
    if (!row)
        return ExitUsage;

    // The file is checked completely before anything goes to the lamp; the
    // messages are the window's.
    const FileHead file = readFileHead(options.file, SequenceReadLimit, [] { return play::interrupted(); });
    const auto refuse = [&](const std::string &why) {
        complain("Die Datei " + quoted(options.file) + " konnte nicht ge\u00F6ffnet werden: " + why);
        return ExitBadFile;
    };
    std::vector<SequenceStep> steps;
    if (file.status != FileHead::Read) {
        if (file.status != FileHead::Stopped)
            return refuse(fileHeadRefusal(file));
    } else if (file.bytes.size() > SequenceFileLimit) {
        return refuse(std::string(SequenceFileTooLarge) + ".");
    } else {
        const SequenceFileParse parsed = readSequenceFile(file.bytes);
        if (!parsed.ok)
            return refuse(parsed.error);
        if (parsed.steps.empty()) {
            complain(quoted(options.file) + ": Es sind keine Farben f\u00FCr die Abfolge ausgew\u00E4hlt");
            return ExitBadFile;
        }
        steps = parsed.steps;
    }

    MemoryGrid grid;
    putStepsInGrid(grid, steps);
    const int stepCount = int(steps.size());

    HardwareRow = *row;
    // Chosen (and its library loaded) when the lamp is first looked for.
    D2XXUnit::setDriverChooser([] {
        std::string driverWarning;
#if defined(TINTRAVA_HAVE_LIBFTDI1)
        const D2xxApi api = chooseDriver(loadLibftdiApi, driverWarning);
#else
        const D2xxApi api = chooseDriver({}, driverWarning);
#endif
        if (!driverWarning.empty())
            complain(driverWarning);
        return api;
    });

    Display display(play::stdoutIsTerminal());
    LampState lamp;
    // Told once per run, like the window's box; the latest problem also
    // explains a lamp that was not reached.
    LinkProblemNotice notice;
    LampLinkProblem problem = LampLinkProblem::None;
    const auto discover = [&] {
        getusbdev(lamp);
        problem = lampLinkProblem();
        const auto outcome = notice.update(problem);
        if (!outcome.boxText.empty())
            display.problem(outcome.boxText);
    };
    bool running = true;
    bool colourDelivered = false;
    std::optional<bool> offDelivered;
    // The lamp is held from the start until the end; a lamp another program
    // holds (the window, another player, another user's) is left alone.
    LampHold hold;
    bool lampBusy = false;
    bool unguardedSaid = false;
    const auto mayDrive = [&] {
        const LampHold::Result held = hold.takeFound(lamp);
        if (held == LampHold::Unavailable && !unguardedSaid) {
            unguardedSaid = true;
            complain(hold.errorText() + " Andere Programme werden nicht von der Lampe ferngehalten.");
        }
        if (held != LampHold::HeldByOther)
            return true;
        lampBusy = true;
        running = false;
        return false;
    };
    LampCommander commander(lamp, LampCommander::Hooks{{}, {}, discover, mayDrive});
    discover();
    if (!mayDrive()) {
        complain(LampHold::InUseText);
        return ExitLampBusy;
    }
    std::optional<bool> lampSeen;
    std::string remainingStep;
    std::string remainingTotal;

    const auto switchOff = [&] { offDelivered = commander.selectcolor(ColourOff); };
    const auto reportLamp = [&] {
        if (lampSeen == lamp.LampFound)
            return;
        lampSeen = lamp.LampFound;
        display.message(lamp.LampFound ? "Lampe gefunden (Seriennummer " + lamp.LampSerial + ")."
                                       : "Keine Lampe gefunden; die Abfolge l\u00E4uft trotzdem weiter.");
    };

    SequencePlayer player(grid, SequencePlayer::Hooks{
                                    play::localNowDays,
                                    [&](int n) { colourDelivered |= commander.selectcolor(n); },
                                    [&](const std::string &w) { colourDelivered |= commander.selectcolor2(w); },
                                    [&] {
                                        running = false;
                                        switchOff();
                                    },
                                    [&] { return running; },
                                    [&](const std::string &t) { remainingStep = t; },
                                    [&](const std::string &t) { remainingTotal = t; },
                                });

    // A signal that came while the file was read ends the run before it starts.
    if (!play::interrupted())
        player.start();
    TickGrid beat;
    beat.sleep = play::sleepUnlessInterrupted;
    beat.keepGoing = [&] { return running && !play::interrupted(); };
    beat.tick = [&] {
        player.tick();
        reportLamp();
        if (running)
            display.step(player.SequenceRow, stepCount, grid.cell(1, player.SequenceRow), remainingStep,
                         remainingTotal);
    };
    beat.run();

    // A lamp found during the run that another program holds: not ours to
    // switch off.
    if (lampBusy) {
        complain(LampHold::InUseText);
        return ExitLampBusy;
    }
    // The lamp first, then the words.
    const bool interrupted = running;
    if (interrupted)
        switchOff();
    const bool offReached = offDelivered.value_or(false);
    const std::string reason = offReached ? std::string() : notReachedReason(lamp, commander.lastDelivery(), problem);
    const int lampStatus = problem == LampLinkProblem::Busy ? ExitLampBusy : ExitLampNotReached;

    if (interrupted) {
        play::interruptHandled();
        const int signal = play::interruptSignal();
        const std::string what = "Abgebrochen (" + play::signalName(signal) + ")";
        if (offReached)
            display.message(what + ", die Lampe ist ausgeschaltet.");
        else
            display.problem(what + ", aber der Ausschaltbefehl hat die Lampe nicht erreicht: " + reason + ".");
        finishOutput(streams, true);
        return play::interruptStatus(signal);
    }
    if (offReached && colourDelivered) {
        display.message("Abfolge beendet, die Lampe ist ausgeschaltet.");
        finishOutput(streams, false);
        return ExitDone;
    }
    if (offReached)
        display.problem("Abfolge beendet, aber keine ihrer Farben hat die Lampe erreicht; die Lampe ist jetzt "
                        "ausgeschaltet.");
    else if (colourDelivered)
        display.problem("Abfolge beendet, aber der Ausschaltbefehl hat die Lampe nicht erreicht: " + reason
                        + ". Die Lampe leuchtet wom\u00F6glich noch.");
    else
        display.problem("Abfolge beendet, aber die Lampe wurde nie erreicht: " + reason + ".");
    finishOutput(streams, false);
    return lampStatus;
}

} // namespace

int main(int argc, char **argv)
{
    play::useUserLocale();
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
    // From here on a stalled output must not hold up the lamp.
    auto streams = std::make_unique<Streams>();
    g_streams = streams.get();
    const int status = playFile(options, *streams);
    finishOutput(*streams, play::interrupted());
    g_streams = nullptr;
    streams.reset();
    return status;
}
