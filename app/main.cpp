#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "ui/fonts.h"
#include "ui/hardware_dialog.h"
#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/d2xx/driver_loader.h"
#include "lamp/d2xx/libftdi_binding.h"
#include "ui/main_window.h"

namespace {

// A start-up step may come back with a warning for the user's terminal;
// it is printed once and the program goes on.
void reportStartupWarning(const std::string &warning)
{
    if (!warning.empty())
        std::fprintf(stderr, "tintrava: %s\n", warning.c_str());
}

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char **argv)
{
    // --help and --version answer without a window system. A command line
    // that also carries Qt's own options (-platform, -style) is understood
    // only once QApplication has taken those out, below.
    {
        QStringList raw;
        for (int i = 0; i < argc; ++i)
            raw << QString::fromLocal8Bit(argv[i]);
        const tintrava::CommandLine early = tintrava::parseCommandLine(raw);
        if (early.action == tintrava::CommandLine::Help || early.action == tintrava::CommandLine::Version) {
            print(stdout, early.output);
            return 0;
        }
    }

    QApplication app(argc, argv);
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
        print(stderr, commandLine.output);
        break;
    }
    // Only the name: a display name would be appended to every window caption.
    QApplication::setApplicationName(QStringLiteral("Tintrava"));
    // Ties the windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tintrava.Tintrava"));
    QIcon icon;
    for (const char *size : {"48", "128", "256"})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(icon);

    // Qt's own buttons and menus in German, like the rest of the program.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    tintrava::setupFonts();

    // The driver is chosen once; a misconfigured one is reported here and
    // leaves the lamp unreachable rather than silently using another.
    std::string driverWarning;
#if defined(TINTRAVA_HAVE_LIBFTDI1)
    D2XXUnit::setDriver(tintrava::chooseDriver(&tintrava::libftdiApi(), driverWarning));
#else
    D2XXUnit::setDriver(tintrava::chooseDriver(nullptr, driverWarning));
#endif
    reportStartupWarning(driverWarning);

    TForm1 form1;
    TForm2 form2;
    form1.setForm2(&form2);
    if (!commandLine.file.isEmpty())
        form1.openAfterStartupCheck(commandLine.file);

    form1.show();
    return app.exec();
}
