#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <string>

#include "app/fonts.h"
#include "app/hardware_dialog.h"
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

    // Qt's own buttons and menus in German, like the rest of the program.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    tintrava::setupFonts();

    // Lamp driver selection goes here, e.g.
    //   reportStartupWarning(setupLampDriver());
    reportStartupWarning(std::string());

    TForm1 form1;
    TForm2 form2;
    form1.setForm2(&form2);
    // Lamp discovery and the player are connected to form1.hooks here.

    form1.show();
    return app.exec();
}
