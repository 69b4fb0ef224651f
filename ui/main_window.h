#pragma once
// Form1, the main window: the colour palette, the sequence grid with its
// editing buttons, the connection indicator and the playback overlay. It also
// runs the start-up check of the lamp model ("my.conf").
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "lamp/lampstate.h"
#include "lamp/link_problem.h"
#include "ui/panel.h"
#include "ui/string_grid.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QMimeData;
class QPushButton;
class QShortcut;
class QTimer;
class TForm2;

namespace tintrava {
class Dialogs;
class SpokenNotice;
class DiskSequenceStore;
class LampCommander;
class LampHold;
class LampWorker;
class QtDialogs;
class SequenceFiles;
class SequencePlayer;
}

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // What tests replace: the clock, the blocking wait of a lamp exchange and
    // the end of the program. The defaults are the real ones.
    struct Hooks {
        // Local date-time in days (whole days since 1899-12-30 plus the time of day).
        std::function<double()> now;
        // The wait of a text exchange; runs on the lamp's thread.
        std::function<void(int ms)> sleep;
        // Ends the program after the start-up choice was declined.
        std::function<void()> terminate;
        // Lamp exchanges and discovery on a thread of their own, so the
        // window never waits for the lamp. false runs them on the window's
        // thread, each to its end before the call that asked for it returns
        // (for tests that look at the driver right after a call). Read at
        // the first lamp command.
        bool lampThread = true;
    };
    Hooks hooks;

    // The lamp as discovery and the protocols last saw it. Written by the
    // lamp's thread; read it only while lampBusy() is false.
    tintrava::LampState Lamp;

    // The hardware dialog opened at start and from the pop-up menu: the one
    // given here, or after makeForm2WhenShown() one this window makes the
    // first time it is shown (most starts never show it) and keeps for the
    // run, so its choice stays as the user left it.
    void setForm2(TForm2 *form2) { m_form2 = form2; }
    void makeForm2WhenShown() { m_makeForm2 = true; }
    // The dialog, made now if it is to be made; nullptr when there is none.
    TForm2 *form2();

    // The boxes shown by this window; nullptr for the real ones.
    void setDialogs(tintrava::Dialogs *dialogs);
    tintrava::Dialogs &dialogs();

    // StringGrid1 as the editing rules and the player see it.
    tintrava::SequenceGrid &grid() { return *StringGrid1; }

    // Reads "my.conf"; true when it names a colour-table row (0..4).
    bool ladeeinstellungen();
    // The ColourNumber of a palette panel, 0 for anything else.
    int getnr(const QObject *sender) const;
    void addcolor(int number);
    // Discovery and the two lamp commands, queued for the lamp's thread
    // behind whatever it is doing; the indicator follows when discovery is done.
    void getusbdev();
    void selectcolor(int colourNumber);
    void selectcolor2(const std::string &wavelengthText);
    // Lamp work queued or under way.
    bool lampBusy() const;
    tintrava::SequencePlayer &player() { return *m_player; }
    // The palette panel of a ColourNumber, nullptr if there is none.
    TPanel *paletteEntry(int number) const;
    // Whether the start-up check has run (it runs once per run).
    bool startupCheckDone() const { return m_activated; }

    // Opens a sequence file into the grid (asks first when the grid holds
    // unsaved steps; error box when it cannot be read). Does nothing while a
    // sequence plays. True when the grid now holds the file's steps.
    bool openSequenceFile(const QString &path);
    // A file named on the command line: opened once the start-up check has
    // passed.
    void openAfterStartupCheck(const QString &path) { m_startupFile = path; }
    tintrava::SequenceFiles &sequenceFiles() { return *m_files; }
    // Whether a sequence plays (the overlay is up).
    bool playing() const;

    // A file a later start handed over. It waits while the window is busy
    // and is then opened like any other, question included: nothing changes
    // the grid under an open box or dialog or while a sequence plays.
    void openHandedFile(const QString &path);
    int handedFilesWaiting() const { return int(m_handedFiles.size()); }
    // A box, dialog or menu is open, a sequence plays, or the start-up check
    // has not run yet.
    bool busy() const;

    // The last sequence kept as closing keeps it; false after a failed
    // save, with the reason in errorText.
    bool keepLastSequence(std::string *errorText);
    // The system ends the program (SIGTERM, SIGHUP): the last sequence is
    // kept as on close, without a box that would hold the end up (a failure
    // goes to standard error), and the event loops end with status.
    void closeBySystem(int status);
    // Whether the last sequence was kept since the window was made (a close
    // by the user or the system).
    bool lastSequenceKept() const { return m_lastKept; }
    // The hold on the lamp a run drives.
    tintrava::LampHold &lampHold() { return *m_hold; }

    // Palette, top to bottom.
    TPanel *Panel8, *Panel14, *Panel15, *Panel11, *Panel12, *Panel7, *Panel10, *Panel6, *Panel13,
        *Panel9, *Panel5, *Panel16;
    QLabel *Label2, *Label7, *Label3, *Label6;
    TStringGrid *StringGrid1;
    TPanel *Panel25;
    QGroupBox *GroupBox1;
    QPushButton *Button1, *Button2, *Button3, *Button5;
    QLabel *Label1;
    QComboBox *ComboBox1;
    TPanel *Panel27;
    QLabel *Label4, *Label9;
    QPushButton *Button4;
    QMenu *PopupMenu1;
    QAction *Harwareanpassen1;
    QAction *AbfolgeOeffnen1, *AbfolgeSpeichern1, *LetzteAbfolgeLaden1;
    QTimer *Timer1, *Timer2;
    // Confirms edits and connection changes to screen reader users.
    tintrava::SpokenNotice *Notice;
    // F5 starts, Escape stops while playing, the menu key opens PopupMenu1.
    QShortcut *StartShortcut, *CancelShortcut, *MenuShortcut, *MenuShortcut2;

    // The focus order: the palette top to bottom, the grid, the editing
    // buttons and "Abfolge starten".
    QList<QWidget *> focusOrder() const;

public slots:
    void FormShow();
    void FormActivate();
    void Panel5Click();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void StringGrid1DblClick();
    void Harwareanpassen1Click();
    void AbfolgeOeffnen1Click();
    void AbfolgeSpeichern1Click();
    void LetzteAbfolgeLaden1Click();
    void Timer1Timer();
    void Timer2Timer();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    struct PaletteEntry {
        TPanel *panel;
        int number;
        QColor screen;
        bool whiteCaption;
    };

    TPanel *makePaletteEntry(const QString &caption, int top, int number, const QColor &screen,
                             bool whiteCaption);
    enum class SettingsRead { Valid, Invalid, Failed };
    // Like ladeeinstellungen, but tells a read failure (error box shown)
    // apart from a missing or invalid choice.
    SettingsRead readSettings();
    void popupMenuAt(QWidget *widget, const QPoint &pos);
    // Keyboard use (main_window_keys.cpp): focus order, keys, and where the
    // focus goes around playing and the hardware dialog.
    void setupKeyboard();
    void rememberFocusBeforePlay();
    void keyboardWhilePlaying(bool playing);
    void placeTimeLabels(int height);
    void returnFocusAfterDialog();
    void openPopupMenuByKey();
    void activateOnce();
    // Menu entries, shortcuts and drops of sequence files (main_window_files.cpp).
    void setupSequenceFiles();
    void updateFileActions();
    // The one local file a drag carries, or empty.
    QString droppedFile(const QMimeData *data) const;
    // After a discovery: the indicator's tooltip while the lamp cannot be
    // reached for a reason the user can mend, and the box saying so, once.
    void showLinkProblem(tintrava::LampLinkProblem problem);
    // Asked before each lamp command: whether this window may drive the lamp
    // discovery found. A run holds its lamp; a lamp another program holds
    // stops the run and is left alone.
    bool mayDriveLamp();
    // The lamp found is another program's: the run ends without a command
    // to the lamp, and the box says why.
    void lampTakenByOther();
    // Says once on standard error that the lamp cannot be guarded.
    void reportUnguardedLamp();
    // The lamp's thread (made at the first use) and the way back from it:
    // toWindow runs fn on the window's thread, after what is queued there.
    tintrava::LampWorker &lampWorker();
    void toWindow(std::function<void()> fn);
    // On the lamp's thread: discovery, its result then shown in the window.
    void discoverForWindow();
    void showDiscovery(bool found, tintrava::LampLinkProblem problem);
    // A colour command of the run; dropped when the run has ended before it
    // could start, and not queued while the previous tick's is unfinished.
    void runCommand(std::function<void()> command);
    // After the start's discovery has asked for the lamp.
    void startRun(int holdResult);
    // The window closes: the lamp's work is finished (the exchange in flight
    // and an off already asked for), nothing new is started.
    void finishLampWork();
    void openHandedFiles();
    // The number of steps in the grid (its rows below the header).
    int stepCount() const;
    // After an edit of the selected step's minutes: its new value, when it changed.
    void confirmMinutes(int row, const std::string &before);

    std::vector<PaletteEntry> m_palette;
    std::unique_ptr<tintrava::LampCommander> m_commander;
    std::unique_ptr<tintrava::SequencePlayer> m_player;
    TForm2 *m_form2 = nullptr;
    bool m_makeForm2 = false;
    std::unique_ptr<TForm2> m_ownForm2;
    tintrava::Dialogs *m_dialogs = nullptr;
    tintrava::QtDialogs *m_qtDialogs;
    bool m_activationQueued = false;
    bool m_activated = false;
    bool m_terminated = false;
    std::unique_ptr<tintrava::DiskSequenceStore> m_store;
    std::unique_ptr<tintrava::SequenceFiles> m_files;
    QString m_startupFile;
    QPointer<QWidget> m_focusBeforePlay;
    tintrava::LinkProblemNotice m_linkNotice;
    std::unique_ptr<tintrava::LampHold> m_hold;
    std::unique_ptr<tintrava::LampWorker> m_worker;
    // Lamp thread only: a run holds the lamp (from its start's discovery
    // to its off), and whether the unguarded lamp was reported.
    bool m_lampRun = false;
    bool m_unguardedReported = false;
    // Counts the runs ended; a run's command still queued when it changes is dropped.
    std::atomic<int> m_runGeneration{0};
    bool m_commandInFlight = false;
    bool m_starting = false;
    bool m_lampFinished = false;
    QStringList m_handedFiles;
    QTimer *m_handOverTimer = nullptr;
    bool m_openingHanded = false;
    bool m_lastKept = false;
    bool m_closedBySystem = false;
};
