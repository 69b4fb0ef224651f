#include "ui/fonts.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QStandardPaths>
#include <QStringList>

#include "storage/config_location.h"

namespace tintrava {

namespace {

#if !defined(_WIN32)
// Whether fontconfig lists the family itself. QFontDatabase::hasFamily()
// first runs the name through fontconfig's substitution rules, which is a
// good part of a start's font work and can answer yes for a family that is
// only substituted.
bool listedFamily(const QString &family)
{
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

// Debian's fonts-wine puts it here; other systems may keep it in a data dir.
QStringList wineFontCandidates()
{
    QStringList files{QStringLiteral("/usr/share/wine/fonts/ms_sans_serif.ttf")};
    files += QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                       QStringLiteral("wine/fonts/ms_sans_serif.ttf"));
    return files;
}

// An installed program finds Wine's font by its family, through the
// fontconfig file installed with it; registering the file at every start
// would cost memory for a font the system already knows.
QString installedWineFont()
{
    if (!isInstalledProgram(programDirectory()))
        return {};
    const QString family = QString::fromLatin1(DialogFontFamily);
    return listedFamily(family) ? family : QString();
}

QString registerWineFont()
{
    for (const QString &file : wineFontCandidates()) {
        if (!QFile::exists(file))
            continue;
        const int id = QFontDatabase::addApplicationFont(file);
        if (id < 0)
            continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty())
            return families.first();
    }
    return {};
}
#endif

// Wine's copy holds bitmaps for the 8 pt dialog size only; larger text goes
// to a scalable family instead of being drawn at 8 pt.
QString g_largeTextFamily;

#if !defined(_WIN32)
QString scalableFamily()
{
    const QString liberation = QStringLiteral("Liberation Sans");
    if (listedFamily(liberation))
        return liberation;
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}
#endif

} // namespace

QString setupFonts()
{
#if defined(_WIN32)
    // Windows has the font itself, with bitmaps for every size the windows
    // use. It is also the one font of boxes and menus, which Qt would
    // otherwise give the system's message and menu fonts.
    static const QString chosen = [] {
        const QString family = QString::fromLatin1(DialogFontFamily);
        // Should the bitmap font be missing, its TrueType successor and the
        // dialog fonts of later Windows versions stand in, never a serif.
        QFont::insertSubstitutions(family, {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"),
                                            QStringLiteral("Segoe UI")});
        QApplication::setFont(dialogFont(8));
        return family;
    }();
    return chosen;
#else
    static const QString chosen = [] {
        QString wine = installedWineFont();
        if (wine.isEmpty())
            wine = registerWineFont();
        if (!wine.isEmpty()) {
            g_largeTextFamily = scalableFamily();
            if (wine != QLatin1String(DialogFontFamily))
                QFont::insertSubstitution(QString::fromLatin1(DialogFontFamily), wine);
            return wine;
        }
        const QString liberation = QStringLiteral("Liberation Sans");
        if (listedFamily(liberation)) {
            QFont::insertSubstitution(QString::fromLatin1(DialogFontFamily), liberation);
            return liberation;
        }
        const QString fallback = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
        QFont::insertSubstitution(QString::fromLatin1(DialogFontFamily), fallback);
        return fallback;
    }();
    return chosen;
#endif
}

QFont dialogFont(int pointSize)
{
    QFont font(pointSize != 8 && !g_largeTextFamily.isEmpty() ? g_largeTextFamily
                                                              : QString::fromLatin1(DialogFontFamily),
               pointSize);
    // Set explicitly, so a control does not take over its container's bold.
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

} // namespace tintrava
