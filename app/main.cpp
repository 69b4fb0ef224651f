#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QThread>
#include <QTimer>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "app/command_line.h"
#include "ui/first_paint_probe.h"
#include "ui/fonts.h"
#if !defined(_WIN32)
#include "ui/graphical_session.h"
#endif
#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/d2xx/driver_loader.h"
#include "lamp/d2xx/libftdi_binding.h"
#include "ui/main_window.h"
#include "sequence/sequence_files.h"
#include "ui/qt_dialogs.h"
#include "ui/single_instance.h"
#include "ui/system_signals.h"
#include "ui/window_icon.h"

namespace {

// A start-up step may come back with a warning for the user's terminal;
// it is printed once and the program goes on.
void reportStartupWarning(const std::string &warning)
{
    if (!warning.empty())
        std::fprintf(stderr, "tintrava: %s\n", warning.c_str());
}

#if defined(_WIN32)
// A window program on Windows starts without standard streams. Started from
// a console (cmd, PowerShell), its answers belong there: the streams are tied
// to that console, unless the caller redirected them to a file or pipe.
void attachParentConsole()
{
    static bool attached = false;
    if (attached)
        return;
    attached = true;
    const auto redirected = [](DWORD which) {
        const HANDLE h = GetStdHandle(which);
        return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
    };
    const bool outRedirected = redirected(STD_OUTPUT_HANDLE);
    const bool errRedirected = redirected(STD_ERROR_HANDLE);
    if ((outRedirected && errRedirected) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!outRedirected)
        std::freopen("CONOUT$", "w", stdout);
    if (!errRedirected)
        std::freopen("CONOUT$", "w", stderr);
}

void print(FILE *stream, const QString &text)
{
    attachParentConsole();
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        // A console shows UTF-16 whatever its code page: the umlauts come through.
        std::fflush(stream);
        const std::wstring wide = text.toStdWString();
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr);
        return;
    }
    // A file or pipe gets UTF-8, as the player writes it.
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
#else
void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
#endif

// Qt ends a failed start of its window system with an abort, a core dump and
// the advice to reinstall. The probe before it catches the usual causes; what
// it cannot see (a display that refuses us) ends here, with Qt's own warnings
// above this line and an ordinary exit status.
QtMessageHandler g_qtMessageHandler = nullptr;

void startupMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        if (g_qtMessageHandler)
            g_qtMessageHandler(type, context, message);
        else
            std::fprintf(stderr, "%s\n", qPrintable(message));
        return;
    }
    // Qt's text for a platform that failed ends in the advice to reinstall,
    // which would mislead; its warnings before have named the cause.
    if (!message.contains(QLatin1String("platform plugin")))
        std::fprintf(stderr, "%s\n", qPrintable(message));
    std::fprintf(stderr, "tintrava: Die grafische Oberfl\u00E4che konnte nicht gestartet werden "
                         "(siehe die Meldungen davor).\n");
    std::fflush(stderr);
    std::_Exit(1);
}

// Qt ends the program with exit(1) when the connection to the X server
// breaks, after a warning that says so; the window's close never comes. The
// last sequence is kept here instead, as closing would keep it; the lamp is
// left as closing leaves it.
TForm1 *g_form = nullptr;

void runningMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (g_form && message.startsWith(QLatin1String("The X11 connection broke"))
        && QThread::currentThread() == QCoreApplication::instance()->thread() && !g_form->lastSequenceKept()) {
        std::string error;
        if (!g_form->keepLastSequence(&error))
            std::fprintf(stderr, "tintrava: %s%s\n", tintrava::texts::LastNotSaved, error.c_str());
    }
    if (g_qtMessageHandler)
        g_qtMessageHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char **argv)
{
#ifdef SIGXFSZ
    // A save beyond a file-size limit (ulimit -f) must fail like any other
    // write and show its error box, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif

    // --help, --version and a wrong option answer without a window system,
    // before a missing display is told. Qt's own options (-platform, -style)
    // are left aside here; QApplication takes them out below.
    {
        QStringList raw;
        for (int i = 0; i < argc; ++i)
            raw << QString::fromLocal8Bit(argv[i]);
        const tintrava::CommandLine early = tintrava::parseCommandLine(tintrava::withoutQtOptions(raw));
        if (early.action == tintrava::CommandLine::Help || early.action == tintrava::CommandLine::Version) {
            print(stdout, early.output);
            return 0;
        }
        if (early.action == tintrava::CommandLine::Error) {
            print(stderr, early.output);
            return tintrava::CommandLineErrorStatus;
        }
    }

#if !defined(_WIN32)
    // Windows always has its desktop; only an X or Wayland display can be missing.
    const std::string noSession = tintrava::missingGraphicalSession(argc, argv);
    if (!noSession.empty()) {
        std::fprintf(stderr, "tintrava: %s\n", noSession.c_str());
        return 1;
    }
#endif

    g_qtMessageHandler = qInstallMessageHandler(startupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_qtMessageHandler);
    const tintrava::CommandLine commandLine = tintrava::parseCommandLine(QApplication::arguments());
    switch (commandLine.action) {
    case tintrava::CommandLine::Help:
    case tintrava::CommandLine::Version:
        print(stdout, commandLine.output);
        return 0;
    case tintrava::CommandLine::Error:
        print(stderr, commandLine.output);
        return tintrava::CommandLineErrorStatus;
    case tintrava::CommandLine::Run:
        // Only when there is something to say: on Windows this ties the
        // program to the console it was started from.
        if (!commandLine.output.isEmpty())
            print(stderr, commandLine.output);
        break;
    }
    // Only the name: a display name would be appended to every window caption.
    QApplication::setApplicationName(QStringLiteral("Tintrava"));
    // Ties the windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tintrava.Tintrava"));

    // Qt's own buttons and menus in German, like the rest of the program.
    // On Windows it is built into the program; elsewhere Debian's package
    // (qt6-translations-l10n) brings it.
    QTranslator qtTranslator;
#if defined(_WIN32)
    const QString translations = QStringLiteral(":/translations");
#else
    const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
    if (qtTranslator.load(QStringLiteral("qtbase_de"), translations))
        QApplication::installTranslator(&qtTranslator);

    tintrava::setupFonts();

    // One copy per user: a second one would fight the first over the lamp.
    tintrava::SingleInstance singleInstance;
    // Later starts are heard once the window is up (or after a second, should
    // it not paint, started minimised say); until then they wait.
    singleInstance.listenLater = true;
    {
        tintrava::QtDialogs boxes;
        QString lockWarning;
        const bool first = tintrava::startOnlyOnce(singleInstance, boxes, QCoreApplication::arguments(),
                                                   QDir::currentPath(), &lockWarning);
        reportStartupWarning(lockWarning.toStdString());
        if (!first)
            return 0;
    }

    // The driver is chosen once, when the lamp is first looked for (most of
    // a start's cost is the libraries it loads); a misconfigured one is
    // reported then and leaves the lamp unreachable rather than silently
    // using another.
    D2XXUnit::setDriverChooser([] {
        std::string driverWarning;
#if defined(TINTRAVA_HAVE_LIBFTDI1)
        const D2xxApi api = tintrava::chooseDriver(tintrava::loadLibftdiApi, driverWarning);
#else
        const D2xxApi api = tintrava::chooseDriver({}, driverWarning);
#endif
        reportStartupWarning(driverWarning);
        return api;
    });

    TForm1 form1;
    form1.makeForm2WhenShown();
    tintrava::watchFirstPaint(&form1);
    if (!commandLine.file.isEmpty())
        form1.openAfterStartupCheck(commandLine.file);

    // A later start asks this copy to come to the front (if the window
    // system lets it) and may hand over files; openHandedFile is where those
    // are opened.
    singleInstance.bringToFront = [&form1] {
        if (form1.isMinimized())
            form1.showNormal();
        form1.raise();
        form1.activateWindow();
        // A modal box in front of the window comes along.
        if (QWidget *modal = QApplication::activeModalWidget()) {
            modal->raise();
            modal->activateWindow();
        }
    };
    // Files a later start names are opened here, with the same questions and
    // error boxes as any other opening, once no box, dialog or sequence
    // keeps the window busy.
    singleInstance.openHandedFile = [&form1](const QString &path) { form1.openHandedFile(path); };

    // SIGTERM, SIGHUP and Ctrl+C in the starting terminal end the program as
    // closing the window does, minus any box that would hold the end up.
    tintrava::SystemSignals systemSignals;
    QObject::connect(&systemSignals, &tintrava::SystemSignals::received, &form1, [&form1](int signal) {
        tintrava::SystemSignals::restoreDefaults();
        form1.closeBySystem(128 + signal);
    });
    g_form = &form1;
    qInstallMessageHandler(runningMessageHandler);
    struct Forget {
        ~Forget()
        {
            qInstallMessageHandler(g_qtMessageHandler);
            g_form = nullptr;
        }
    } forget;

    // The native window first, then the icon: see useApplicationIcon.
    form1.winId();
    tintrava::useApplicationIcon(&form1);
    tintrava::whenFirstPainted(&form1, [&singleInstance] { singleInstance.startListening(); });
    QTimer::singleShot(1000, &singleInstance, [&singleInstance] { singleInstance.startListening(); });
    form1.show();
    return app.exec();
}
