#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <string>

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

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
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

    form1.show();
    return app.exec();
}
