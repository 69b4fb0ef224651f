// tintrava-lamp-view [TRACE]: shows the virtual lamps of a trace file as they
// change. Without an argument it follows TINTRAVA_VIRTUAL_LAMP_LOG, the file
// the virtual lamp library writes to.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>

#include <cstdio>

#include "tools/virtual-lamp/viewer/lamp_view.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tintrava-lamp-view"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Zeigt die virtuellen Lampen einer Spurdatei der virtuellen Lampe "
        "(ohne Angabe: TINTRAVA_VIRTUAL_LAMP_LOG)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("spur"), QStringLiteral("Spurdatei der virtuellen Lampe"),
                                 QStringLiteral("[spur]"));
    parser.process(app);

    QString path;
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() > 1) {
        std::fprintf(stderr, "tintrava-lamp-view: nur eine Spurdatei angeben\n");
        return 2;
    }
    if (!arguments.isEmpty())
        path = arguments.first();
    else
        path = qEnvironmentVariable("TINTRAVA_VIRTUAL_LAMP_LOG");
    if (path.isEmpty()) {
        std::fprintf(stderr, "tintrava-lamp-view: keine Spurdatei (Argument oder TINTRAVA_VIRTUAL_LAMP_LOG)\n");
        return 2;
    }

    tintrava::LampView view(QFileInfo(path).absoluteFilePath());
    view.setWindowTitle(QStringLiteral("Tintrava – virtuelle Lampe"));
    view.show();
    return app.exec();
}
