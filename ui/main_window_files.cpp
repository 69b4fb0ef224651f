// The main window's sequence files: the pop-up menu entries and their
// shortcuts, opening by drag and drop, and the last sequence kept on close.
// What is asked and written is decided by SequenceFiles; this only forwards.
#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <cstdio>

#include "sequence/sequence_files.h"
#include "storage/sequence_storage.h"

void TForm1::setupSequenceFiles()
{
    m_store = std::make_unique<tintrava::DiskSequenceStore>();
    m_files = std::make_unique<tintrava::SequenceFiles>(*StringGrid1, *m_store);

    PopupMenu1->addSeparator();
    AbfolgeOeffnen1 = PopupMenu1->addAction(QStringLiteral("Abfolge öffnen…"));
    AbfolgeOeffnen1->setObjectName(QStringLiteral("AbfolgeOeffnen1"));
    AbfolgeOeffnen1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    AbfolgeSpeichern1 = PopupMenu1->addAction(QStringLiteral("Abfolge speichern…"));
    AbfolgeSpeichern1->setObjectName(QStringLiteral("AbfolgeSpeichern1"));
    AbfolgeSpeichern1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    LetzteAbfolgeLaden1 = PopupMenu1->addAction(QStringLiteral("Letzte Abfolge laden"));
    LetzteAbfolgeLaden1->setObjectName(QStringLiteral("LetzteAbfolgeLaden1"));
    connect(AbfolgeOeffnen1, &QAction::triggered, this, &TForm1::AbfolgeOeffnen1Click);
    connect(AbfolgeSpeichern1, &QAction::triggered, this, &TForm1::AbfolgeSpeichern1Click);
    connect(LetzteAbfolgeLaden1, &QAction::triggered, this, &TForm1::LetzteAbfolgeLaden1Click);
    // The shortcuts work anywhere in the main window, menu open or not; a
    // disabled entry takes its shortcut with it.
    for (QAction *action : {AbfolgeOeffnen1, AbfolgeSpeichern1}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }

    StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(StringGrid1, &QWidget::customContextMenuRequested, this,
            // A scroll area reports the position in its viewport.
            [this](const QPoint &pos) { popupMenuAt(StringGrid1->viewport(), pos); });

    // Files dropped anywhere on the window, the grid included, come here.
    setAcceptDrops(true);
    StringGrid1->setAcceptDrops(false);
    StringGrid1->viewport()->setAcceptDrops(false);

    // Files handed over by later starts wait here while the window is busy.
    // Whether it is free again is looked at a few times a second: a box or
    // dialog ends in many ways (a button, Escape, its close button, the
    // system), and none of them needs to know about the files.
    m_handOverTimer = new QTimer(this);
    m_handOverTimer->setObjectName(QStringLiteral("HandOverTimer"));
    m_handOverTimer->setInterval(250);
    connect(m_handOverTimer, &QTimer::timeout, this, &TForm1::openHandedFiles);
}

bool TForm1::busy() const
{
    return !m_activated || m_terminated || playing() || m_starting || QApplication::activeModalWidget()
        || QApplication::activePopupWidget();
}

void TForm1::openHandedFile(const QString &path)
{
    m_handedFiles << path;
    if (!m_handOverTimer->isActive())
        m_handOverTimer->start();
    // Not from inside the hand-over itself.
    QTimer::singleShot(0, this, &TForm1::openHandedFiles);
}

void TForm1::openHandedFiles()
{
    // Opening one may ask its question; the files after it wait for that.
    if (m_openingHanded)
        return;
    while (!m_handedFiles.isEmpty() && !busy()) {
        const QString path = m_handedFiles.takeFirst();
        m_openingHanded = true;
        openSequenceFile(path);
        m_openingHanded = false;
    }
    if (m_handedFiles.isEmpty())
        m_handOverTimer->stop();
    else if (!m_handOverTimer->isActive())
        m_handOverTimer->start();
}

bool TForm1::playing() const
{
    return Timer1->isActive();
}

void TForm1::updateFileActions()
{
    const bool idle = !playing();
    AbfolgeOeffnen1->setEnabled(idle);
    AbfolgeSpeichern1->setEnabled(idle);
    LetzteAbfolgeLaden1->setEnabled(idle);
}

bool TForm1::openSequenceFile(const QString &path)
{
    if (playing())
        return false;
    return m_files->open(dialogs(), path.toStdString());
}

void TForm1::AbfolgeOeffnen1Click()
{
    if (!playing())
        m_files->openChosen(dialogs());
}

void TForm1::AbfolgeSpeichern1Click()
{
    if (!playing())
        m_files->saveChosen(dialogs());
}

void TForm1::LetzteAbfolgeLaden1Click()
{
    if (!playing())
        m_files->openLast(dialogs());
}

bool TForm1::keepLastSequence(std::string *errorText)
{
    m_lastKept = true;
    return m_files->saveLast(errorText);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // A close by the system has kept it already, and must not wait for a box.
    if (!m_closedBySystem) {
        std::string error;
        if (!keepLastSequence(&error))
            dialogs().showError(tintrava::texts::LastNotSaved + error);
    }
    // The exchange in flight runs to its close (at most 300 ms): the
    // device is never left open.
    finishLampWork();
    QWidget::closeEvent(event);
}

void TForm1::closeBySystem(int status)
{
    if (m_closedBySystem)
        return;
    m_closedBySystem = true;
    {
        std::string error;
        if (!keepLastSequence(&error))
            std::fprintf(stderr, "tintrava: %s%s\n", tintrava::texts::LastNotSaved, error.c_str());
    }
    // Every event loop ends, those of open boxes and dialogs included; a box
    // asked for on the way out returns at once.
    QCoreApplication::exit(status);
}

QString TForm1::droppedFile(const QMimeData *data) const
{
    if (!data || !data->hasUrls())
        return QString();
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.constFirst().isLocalFile())
        return QString();
    return urls.constFirst().toLocalFile();
}

void TForm1::dragEnterEvent(QDragEnterEvent *event)
{
    if (!playing() && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TForm1::dragMoveEvent(QDragMoveEvent *event)
{
    if (!playing() && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TForm1::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (playing() || path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Opened once the drop has finished: the file manager that started the
    // drag must not wait for our boxes.
    QTimer::singleShot(0, this, [this, path] { openSequenceFile(path); });
}
