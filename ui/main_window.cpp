#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cstdio>

#include "ui/accessibility.h"
#include "ui/fonts.h"
#include "ui/hardware_dialog.h"
#include "storage/config_location.h"
#include "storage/settings_file.h"
#include "lamp/discovery.h"
#include "lamp/integer_rule.h"
#include "lamp/lamp_hold.h"
#include "lamp/lamp_worker.h"
#include "lamp/lampstate.h"
#include "lamp/protocols.h"
#include "sequence/player.h"
#include "ui/qt_dialogs.h"
#include "ui/window_icon.h"
#include "sequence/sequence_files.h"
#include "sequence/sequence_rules.h"
#include "storage/sequence_storage.h"

namespace {

const char *const NoHardwareMessage =
    "Ohne Auswahl einer Hardware kann die Software nicht verwendet werden. "
    "Die Software wird deshalb geschlossen.";
const char *const NothingToPlayMessage = "Es sind keine Farben für die Abfolge ausgewählt";

QLabel *makeLabel(const QString &text, QWidget *parent, int left, int top)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QPushButton *makeButton(const QString &text, QWidget *parent, const QRect &place)
{
    auto *button = new QPushButton(text, parent);
    button->setGeometry(place);
    button->setAutoDefault(false);
    return button;
}

// The local wall clock as a day count: days since 1899-12-30, the time of day
// as the fraction, milliseconds included.
double localNowDays()
{
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 localMs = now.toMSecsSinceEpoch() + qint64(now.offsetFromUtc()) * 1000;
    return 25569.0 + double(localMs) / 86400000.0;
}

} // namespace

TForm1::TForm1(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_qtDialogs(new tintrava::QtDialogs), m_hold(std::make_unique<tintrava::LampHold>())
{
    tintrava::installAccessibility();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tintrava V.1.50"));
    setFont(tintrava::dialogFont(8));
    setFixedSize(702, 480);

    hooks.now = localNowDays;
    hooks.sleep = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
    hooks.terminate = [] { QCoreApplication::exit(0); };

    // Palette, top to bottom: caption, top, ColourNumber, screen colour.
    const QColor face = palette().color(QPalette::Button);
    Panel8 = makePaletteEntry(QStringLiteral("Weiß"), 16, 4, QColor(255, 255, 255), false);
    Panel14 = makePaletteEntry(QStringLiteral("Rosa"), 48, 9, QColor(255, 90, 140), false);
    Panel15 = makePaletteEntry(QStringLiteral("Magenta"), 80, 10, QColor(255, 0, 134), false);
    Panel11 = makePaletteEntry(QStringLiteral("Violett"), 112, 7, QColor(124, 0, 158), true);
    Panel12 = makePaletteEntry(QStringLiteral("Indigo"), 144, 12, QColor(40, 11, 53), true);
    Panel7 = makePaletteEntry(QStringLiteral("Blau"), 176, 3, QColor(0, 0, 255), true);
    Panel10 = makePaletteEntry(QStringLiteral("Türkis"), 208, 6, QColor(0, 255, 236), false);
    Panel6 = makePaletteEntry(QStringLiteral("Grün"), 240, 2, QColor(0, 255, 0), false);
    Panel13 = makePaletteEntry(QStringLiteral("Gelb"), 272, 8, QColor(255, 175, 0), false);
    Panel9 = makePaletteEntry(QStringLiteral("Orange"), 304, 5, QColor(255, 88, 0), false);
    Panel5 = makePaletteEntry(QStringLiteral("Rot"), 336, 1, QColor(255, 0, 0), false);
    Panel16 = makePaletteEntry(QStringLiteral("Wellenlängen-Angabe"), 368, tintrava::ColourWavelength, face,
                               false);
    const char *const panelNames[] = {"Panel8", "Panel14", "Panel15", "Panel11", "Panel12", "Panel7",
                                      "Panel10", "Panel6", "Panel13", "Panel9", "Panel5", "Panel16"};
    for (size_t i = 0; i < m_palette.size(); ++i)
        m_palette[i].panel->setObjectName(QString::fromLatin1(panelNames[i]));

    Label2 = makeLabel(QStringLiteral("Farbe anklicken um diese in die"), this, 16, 400);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label7 = makeLabel(QStringLiteral("Liste zu übernehmen"), this, 16, 416);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label3 = makeLabel(QStringLiteral("eingestellte Tintrava"), this, 248, 24);
    Label3->setObjectName(QStringLiteral("Label3"));

    StringGrid1 = new TStringGrid(this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setGeometry(248, 40, 289, 305);
    StringGrid1->setColumnWidth(0, 65);
    StringGrid1->setColumnWidth(1, 142);
    StringGrid1->setColumnWidth(2, 64);
    connect(StringGrid1, &TStringGrid::dblClick, this, &TForm1::StringGrid1DblClick);

    Label6 = makeLabel(QStringLiteral("Zeile doppelt anklicken um Zeit direkt einzugeben"), this, 256, 352);
    Label6->setObjectName(QStringLiteral("Label6"));

    // Right-hand panel with the editing buttons and the connection indicator.
    Panel25 = new TPanel(QString(), this);
    Panel25->setObjectName(QStringLiteral("Panel25"));
    Panel25->setGeometry(702 - 141, 0, 141, 480);

    GroupBox1 = new QGroupBox(QStringLiteral("Bei ausgewählter Zeile:"), Panel25);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 16, 121, 145);
    tintrava::readStyleImagesAsPngWhenPainted(GroupBox1);
    Button1 = makeButton(QStringLiteral("Zeile löschen"), GroupBox1, QRect(24, 24, 75, 25));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = makeButton(QStringLiteral("Minuten +"), GroupBox1, QRect(24, 64, 75, 25));
    Button2->setObjectName(QStringLiteral("Button2"));
    Button3 = makeButton(QStringLiteral("Minuten -"), GroupBox1, QRect(24, 104, 75, 25));
    Button3->setObjectName(QStringLiteral("Button3"));
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);

    Button5 = makeButton(QStringLiteral("Abfolge starten"), Panel25, QRect(24, 192, 83, 25));
    Button5->setObjectName(QStringLiteral("Button5"));
    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Harwareanpassen1 = PopupMenu1->addAction(QStringLiteral("Harware anpassen"));
    Harwareanpassen1->setObjectName(QStringLiteral("Harwareanpassen1"));
    connect(Harwareanpassen1, &QAction::triggered, this, &TForm1::Harwareanpassen1Click);
    setupSequenceFiles();

    Label1 = makeLabel(QStringLiteral("Verbindung:"), Panel25, 40, 344);
    Label1->setObjectName(QStringLiteral("Label1"));
    ComboBox1 = new QComboBox(Panel25);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    tintrava::setConnectionIndicator(ComboBox1);
    ComboBox1->setAccessibleName(QStringLiteral("Verbindung"));
    ComboBox1->addItems({QStringLiteral("keine Verbindung"), QStringLiteral("USB")});
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setEnabled(false);
    ComboBox1->setGeometry(16, 360, 121, ComboBox1->sizeHint().height());
    // The indicator is disabled and gets no mouse input, so in practice the
    // label is where the menu opens.
    for (QWidget *w : {static_cast<QWidget *>(Label1), static_cast<QWidget *>(ComboBox1)}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint &pos) { popupMenuAt(w, pos); });
    }

    // Playback overlay over palette and grid.
    Panel27 = new TPanel(QStringLiteral("Abfolge aktiv"), this);
    Panel27->setObjectName(QStringLiteral("Panel27"));
    Panel27->setGeometry(0, 0, 702 - 141, 480);
    Panel27->setColor(QColor(0, 255, 0));
    QFont overlayFont = tintrava::dialogFont(18);
    overlayFont.setBold(true);
    Panel27->setFont(overlayFont);
    Label4 = new QLabel(Panel27);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label9 = new QLabel(Panel27);
    Label9->setObjectName(QStringLiteral("Label9"));
    // Their height comes when the overlay is shown (startRun).
    placeTimeLabels(0);
    Button4 = makeButton(QStringLiteral("Abbrechen"), Panel27, QRect(438, 368, 75, 25));
    Button4->setObjectName(QStringLiteral("Button4"));
    Button4->setFont(tintrava::dialogFont(8));
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    Panel27->hide();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    // Qt's default timer may fire up to 5% early; the countdown shows whole
    // seconds and discovery promises the lamp a full second of rest.
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);
    Timer2->setTimerType(Qt::PreciseTimer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    Timer2->start();

    // The commander runs on the lamp's thread; what it does to the window
    // goes back to the window's thread.
    m_commander = std::make_unique<tintrava::LampCommander>(
        Lamp, tintrava::LampCommander::Hooks{
                  [this](int ms) { hooks.sleep(ms); },
                  // start() also restarts the interval, so discovery waits a
                  // full second after every exchange.
                  [this](bool enabled) {
                      toWindow([this, enabled] {
                          if (enabled && !m_lampFinished)
                              Timer2->start();
                          else
                              Timer2->stop();
                      });
                  },
                  [this] { discoverForWindow(); },
                  [this] { return mayDriveLamp(); },
              });
    m_player = std::make_unique<tintrava::SequencePlayer>(
        *StringGrid1, tintrava::SequencePlayer::Hooks{
                          [this] { return hooks.now(); },
                          [this](int n) { runCommand([this, n] { m_commander->selectcolor(n); }); },
                          [this](const std::string &w) {
                              runCommand([this, w] { m_commander->selectcolor2(w); });
                          },
                          [this] { Button4Click(); },
                          [this] { return Timer1->isActive(); },
                          [this](const std::string &t) { Label4->setText(QString::fromStdString(t)); },
                          [this](const std::string &t) { Label9->setText(QString::fromStdString(t)); },
                      });

    Notice = new tintrava::SpokenNotice(this);

    setupKeyboard();

    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TForm1::~TForm1()
{
    // The lamp's thread uses the commander, the lamp state and the hold.
    finishLampWork();
    m_ownForm2.reset();
    delete m_qtDialogs;
}

TForm2 *TForm1::form2()
{
    if (!m_form2 && m_makeForm2) {
        m_ownForm2 = std::make_unique<TForm2>();
        m_form2 = m_ownForm2.get();
    }
    return m_form2;
}

tintrava::LampWorker &TForm1::lampWorker()
{
    if (!m_worker)
        m_worker = std::make_unique<tintrava::LampWorker>(hooks.lampThread ? tintrava::LampWorker::Mode::OwnThread
                                                                           : tintrava::LampWorker::Mode::CallerThread);
    return *m_worker;
}

void TForm1::toWindow(std::function<void()> fn)
{
    // On the window's thread already (no lamp thread, or the window is
    // closing and finishes the lamp's work itself): at once, as a direct call.
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    // Dropped with the window if it is gone by then.
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

bool TForm1::lampBusy() const
{
    return m_worker && m_worker->pending() > 0;
}

void TForm1::finishLampWork()
{
    if (m_lampFinished)
        return;
    m_lampFinished = true;
    // A colour the run still has queued is not sent; an off asked for is.
    ++m_runGeneration;
    Timer1->stop();
    Timer2->stop();
    if (m_worker)
        m_worker->finish();
}

TPanel *TForm1::makePaletteEntry(const QString &caption, int top, int number, const QColor &screen,
                                 bool whiteCaption)
{
    auto *panel = new TPanel(caption, this);
    panel->setGeometry(16, top, 209, 25);
    panel->setCursor(Qt::PointingHandCursor);
    panel->setKeyboardButton(true);
    panel->setButtonDescription(number == tintrava::ColourWavelength
                                    ? QStringLiteral("Fragt nach einer Wellenlänge und fügt sie am Ende der Liste hinzu")
                                    : QStringLiteral("Fügt diese Farbe am Ende der Liste hinzu"));
    if (whiteCaption)
        panel->setFontColor(Qt::white);
    connect(panel, &TPanel::clicked, this, &TForm1::Panel5Click);
    m_palette.push_back({panel, number, screen, whiteCaption});
    return panel;
}

void TForm1::setDialogs(tintrava::Dialogs *dialogs)
{
    m_dialogs = dialogs;
}

tintrava::Dialogs &TForm1::dialogs()
{
    return m_dialogs ? *m_dialogs : *m_qtDialogs;
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FormShow();
    // The start-up check belongs to the first activation. A window that never
    // becomes the active one (no window manager, offscreen) must still get
    // it, so it follows the first show as soon as the event loop runs.
    if (!m_activationQueued) {
        m_activationQueued = true;
        QMetaObject::invokeMethod(this, &TForm1::activateOnce, Qt::QueuedConnection);
    }
}

void TForm1::activateOnce()
{
    if (m_activated)
        return;
    m_activated = true;
    FormActivate();
    // Whether or not the hardware dialog came, work starts at "Weiß".
    returnFocusAfterDialog();
    Panel8->setFocus(Qt::OtherFocusReason);
    if (!m_terminated && !m_startupFile.isEmpty())
        openSequenceFile(m_startupFile);
}

void TForm1::FormShow()
{
    for (const PaletteEntry &entry : m_palette)
        if (entry.number != tintrava::ColourWavelength)
            entry.panel->setColor(entry.screen);
    StringGrid1->setCell(0, 0, "FarbNr");
    StringGrid1->setCell(1, 0, "Bezeichnung");
    StringGrid1->setCell(2, 0, "Minuten");
}

void TForm1::placeTimeLabels(int height)
{
    // The remaining-time texts change every second; their boxes are wide
    // enough for them instead of resizing to each text.
    Label4->setGeometry(50, 40, 561 - 50 - 8, height);
    Label9->setGeometry(50, 88, 561 - 50 - 8, height);
}

bool TForm1::ladeeinstellungen()
{
    return readSettings() == SettingsRead::Valid;
}

TForm1::SettingsRead TForm1::readSettings()
{
    const tintrava::ConfigLine config = tintrava::readConfigLine();
    switch (config.status) {
    case tintrava::ConfigLine::Missing:
        return SettingsRead::Invalid;
    case tintrava::ConfigLine::Failed:
        dialogs().showError(config.errorText.toStdString());
        return SettingsRead::Failed;
    case tintrava::ConfigLine::Read:
        break;
    }
    tintrava::HardwareRow = tintrava::hardwareRowFromConfig(config.line.toStdString());
    return tintrava::validHardwareRow(tintrava::HardwareRow) ? SettingsRead::Valid : SettingsRead::Invalid;
}

void TForm1::FormActivate()
{
    // A file that cannot be read has shown its error box; like an invalid
    // file it leaves no lamp model, and the lamp must never be driven with a
    // model nobody chose, so the user is asked as for an invalid file.
    if (readSettings() == SettingsRead::Valid)
        return;
    if (TForm2 *dialog = form2(); dialog && dialog->ShowModal() == mrOk)
        return;
    // Ended by the system while the dialog was open: no box, and the end
    // keeps its own status.
    if (m_closedBySystem)
        return;
    dialogs().showMessage(NoHardwareMessage);
    m_terminated = true;
    if (hooks.terminate)
        hooks.terminate();
}

void TForm1::Harwareanpassen1Click()
{
    if (TForm2 *dialog = form2()) {
        dialog->ShowModal();
        returnFocusAfterDialog();
    }
}

void TForm1::popupMenuAt(QWidget *widget, const QPoint &pos)
{
    PopupMenu1->popup(widget->mapToGlobal(pos));
}

int TForm1::getnr(const QObject *sender) const
{
    for (const PaletteEntry &entry : m_palette)
        if (entry.panel == sender)
            return entry.number;
    return 0;
}

TPanel *TForm1::paletteEntry(int number) const
{
    for (const PaletteEntry &entry : m_palette)
        if (entry.number == number)
            return entry.panel;
    return nullptr;
}

void TForm1::Panel5Click()
{
    const int number = getnr(sender());
    if (number != 0)
        addcolor(number);
}

namespace {

QString stepsText(int steps)
{
    return steps == 1 ? QStringLiteral("1 Schritt") : QStringLiteral("%1 Schritte").arg(steps);
}

QString minutesText(const std::string &minutes)
{
    const QString value = QString::fromStdString(minutes);
    return value == QLatin1String("1") ? QStringLiteral("1 Minute") : QStringLiteral("%1 Minuten").arg(value);
}

} // namespace

int TForm1::stepCount() const
{
    return StringGrid1->fixedRows() > 0 ? StringGrid1->rowCount() - StringGrid1->fixedRows() : 0;
}

// Edits are confirmed in speech: the keyboard stays where it is, so a screen
// reader would otherwise say nothing about what happened in the list.
void TForm1::addcolor(int number)
{
    const TPanel *panel = paletteEntry(number);
    const int before = stepCount();
    tintrava::addcolor(*StringGrid1, dialogs(), number, panel ? panel->caption().toStdString() : std::string());
    if (stepCount() > before) {
        const QString name = QString::fromStdString(StringGrid1->cell(1, StringGrid1->rowCount() - 1));
        Notice->say(QStringLiteral("%1 hinzugefügt, %2").arg(name, stepsText(stepCount())));
    }
}

void TForm1::Button1Click()
{
    const int before = stepCount();
    const QString name = QString::fromStdString(StringGrid1->cell(1, StringGrid1->selectedRow()));
    tintrava::deleteSelectedStep(*StringGrid1, dialogs());
    if (stepCount() < before)
        Notice->say(QStringLiteral("%1 gelöscht, %2").arg(name, stepsText(stepCount())));
}

void TForm1::confirmMinutes(int row, const std::string &before)
{
    if (row < StringGrid1->fixedRows() || row >= StringGrid1->rowCount() || StringGrid1->fixedRows() == 0)
        return;
    const std::string after = StringGrid1->cell(2, row);
    if (after != before)
        Notice->say(QStringLiteral("%1: %2").arg(QString::fromStdString(StringGrid1->cell(1, row)), minutesText(after)));
}

void TForm1::Button2Click()
{
    const int row = StringGrid1->selectedRow();
    const std::string before = StringGrid1->cell(2, row);
    tintrava::minutesPlus(*StringGrid1);
    confirmMinutes(row, before);
}

void TForm1::Button3Click()
{
    const int row = StringGrid1->selectedRow();
    const std::string before = StringGrid1->cell(2, row);
    tintrava::minutesMinus(*StringGrid1);
    confirmMinutes(row, before);
}

void TForm1::StringGrid1DblClick()
{
    const int row = StringGrid1->selectedRow();
    const std::string before = StringGrid1->cell(2, row);
    tintrava::editMinutes(*StringGrid1, dialogs());
    confirmMinutes(row, before);
}

void TForm1::Button5Click()
{
    if (StringGrid1->rowCount() < 2) {
        dialogs().showMessage(NothingToPlayMessage);
        return;
    }
    if (m_starting)
        return;
    // The lamp is held from the start: one that another program drives is
    // refused before anything changes here. Without a lamp nothing is held
    // yet; the run takes the hold when its first command finds one.
    m_starting = true;
    lampWorker().post([this] {
        discoverForWindow();
        const tintrava::LampHold::Result held = m_hold->takeFound(Lamp);
        if (held == tintrava::LampHold::Unavailable)
            reportUnguardedLamp();
        m_lampRun = held != tintrava::LampHold::HeldByOther;
        toWindow([this, held] { startRun(held); });
    });
}

void TForm1::startRun(int holdResult)
{
    m_starting = false;
    if (holdResult == tintrava::LampHold::HeldByOther) {
        dialogs().showMessage(tintrava::LampHold::InUseText);
        return;
    }
    // Closed, or the steps deleted, while the lamp was asked: no run.
    if (m_lampFinished || StringGrid1->rowCount() < 2) {
        lampWorker().post([this] {
            m_lampRun = false;
            m_hold->release();
        });
        return;
    }
    rememberFocusBeforePlay();
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    Button5->setEnabled(false);
    // Measured here, not when the window is made: the large bold font is
    // then read only by a start that plays.
    placeTimeLabels(QFontMetrics(Panel27->font()).height());
    Panel27->show();
    Panel27->raise();
    keyboardWhilePlaying(true);
    Timer1->start();
    m_player->start();
    updateFileActions();
}

void TForm1::Button4Click()
{
    Button1->setEnabled(true);
    Button2->setEnabled(true);
    Button3->setEnabled(true);
    Button5->setEnabled(true);
    Panel27->hide();
    keyboardWhilePlaying(false);
    Timer1->stop();
    updateFileActions();
    // The off follows the exchange in flight, once it has closed the
    // device; a colour the run has queued behind it is dropped.
    ++m_runGeneration;
    lampWorker().post([this] {
        m_lampRun = false;
        m_commander->selectcolor(tintrava::ColourOff);
        m_hold->release();
    });
}

void TForm1::runCommand(std::function<void()> command)
{
    // The previous tick's exchange is still under way (a slow lamp): this
    // tick's colour is left out, as a tick the window was too busy for
    // would be; the next tick sends the current colour again.
    if (m_commandInFlight)
        return;
    m_commandInFlight = true;
    const int run = m_runGeneration;
    lampWorker().post([this, run, command = std::move(command)] {
        if (run == m_runGeneration)
            command();
        toWindow([this] { m_commandInFlight = false; });
    });
}

bool TForm1::mayDriveLamp()
{
    using tintrava::LampHold;
    if (!m_lampRun && !m_hold->holding()) {
        // A command outside a run (none is sent today) keeps no hold, but
        // still leaves another program's lamp alone.
        const LampHold::Result result = m_hold->takeFound(Lamp);
        m_hold->release();
        return result != LampHold::HeldByOther;
    }
    switch (m_hold->takeFound(Lamp)) {
    case LampHold::Held:
    case LampHold::NoLamp:
        return true;
    case LampHold::Unavailable:
        reportUnguardedLamp();
        return true;
    case LampHold::HeldByOther:
        break;
    }
    // A lamp found only during the run (plugged in late, or swapped) that
    // another program holds.
    if (m_lampRun) {
        m_lampRun = false;
        toWindow([this] { lampTakenByOther(); });
    }
    return false;
}

void TForm1::lampTakenByOther()
{
    // Stopped by the user meanwhile: the off is on its way already.
    if (!playing())
        return;
    // The final off of the stop asks again and is refused: the lamp is the
    // other program's.
    Button4Click();
    // Not from inside the lamp command that found it.
    QTimer::singleShot(0, this, [this] { dialogs().showMessage(tintrava::LampHold::InUseText); });
}

void TForm1::reportUnguardedLamp()
{
    if (m_unguardedReported)
        return;
    m_unguardedReported = true;
    std::fprintf(stderr, "tintrava: %s Andere Programme werden nicht von der Lampe ferngehalten.\n",
                 m_hold->errorText().c_str());
}

void TForm1::Timer1Timer()
{
    m_player->tick();
}

void TForm1::Timer2Timer()
{
    // Nor while the lamp is busy: a text exchange has the timer switched
    // off, and restarts it when it is done.
    if (Timer1->isActive() || lampBusy())
        return;
    getusbdev();
}

void TForm1::getusbdev()
{
    lampWorker().post([this] { discoverForWindow(); });
}

void TForm1::discoverForWindow()
{
    const bool found = tintrava::getusbdev(Lamp);
    const tintrava::LampLinkProblem problem = tintrava::lampLinkProblem();
    toWindow([this, found, problem] { showDiscovery(found, problem); });
}

void TForm1::showDiscovery(bool found, tintrava::LampLinkProblem problem)
{
    const int before = ComboBox1->currentIndex();
    ComboBox1->setCurrentIndex(found ? 1 : 0);
    // Plugging or unplugging the lamp is heard wherever the keyboard is.
    if (ComboBox1->currentIndex() != before)
        Notice->say(QStringLiteral("Verbindung: %1").arg(ComboBox1->currentText()));
    showLinkProblem(problem);
}

void TForm1::showLinkProblem(tintrava::LampLinkProblem problem)
{
    // Not over the start-up check's dialog nor any other box: the hint waits
    // for a later discovery.
    const bool boxAllowed = m_activated && !QApplication::activeModalWidget();
    const auto outcome = m_linkNotice.update(problem, boxAllowed);
    ComboBox1->setToolTip(QString::fromStdString(outcome.toolTip));
    if (outcome.boxText.empty())
        return;
    // Discovery also runs at the start of a lamp command; a box opened there
    // would let the player's timer run inside the exchange. Shown from the
    // event loop instead.
    QTimer::singleShot(0, this, [this, text = outcome.boxText] { dialogs().showInformation(text); });
}

void TForm1::selectcolor(int colourNumber)
{
    lampWorker().post([this, colourNumber] { m_commander->selectcolor(colourNumber); });
}

void TForm1::selectcolor2(const std::string &wavelengthText)
{
    lampWorker().post([this, wavelengthText] { m_commander->selectcolor2(wavelengthText); });
}
