#include "ui/hardware_dialog.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

#include "ui/fonts.h"
#include "storage/config_location.h"
#include "storage/settings_file.h"
#include "lamp/lampstate.h"
#include "ui/qt_dialogs.h"
#include "ui/window_icon.h"

namespace {

const char *const HardwareNames[4] = {
    "Nivra Kegel (klein)",
    "Nivra Kegel (groß)",
    "Nivra Säule",
    "Nivra Strahler",
};

// The error box of a failed save: the system's reason, and what becomes of
// the choice, which serves this run all the same.
QString notKeptText(const QString &error)
{
    const tintrava::ConfigLine stored = tintrava::readConfigLine();
    const bool storedChoice = stored.status == tintrava::ConfigLine::Read
        && tintrava::validHardwareRow(tintrava::hardwareRowFromConfig(stored.line.toStdString()));
    return error + QStringLiteral("\n\nDie Auswahl konnte nicht dauerhaft gespeichert werden und gilt nur, "
                                  "bis die Software beendet wird. ")
        + (storedChoice ? QStringLiteral("Beim nächsten Start gilt wieder die zuvor gespeicherte Auswahl.")
                        : QStringLiteral("Beim nächsten Start wird erneut nach der Hardware gefragt."));
}

} // namespace

TForm2::TForm2(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_qtDialogs(new tintrava::QtDialogs)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Hardwareauswahl"));
    setFont(tintrava::dialogFont(8));
    // The client area that fits the controls; the frame around it belongs to
    // the window system (342 x 479 outside on the original's).
    resize(326, 440);

    Label1 = new QLabel(QStringLiteral("Bitte angeschlossene Hardware auswählen"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(tintrava::dialogFont(12));
    // Sized to its text like any label, at least as wide as designed.
    Label1->setGeometry(8, 16, std::max(306, Label1->sizeHint().width()), 20);

    RadioGroup1 = new QGroupBox(QStringLiteral("Hardware"), this);
    tintrava::readStyleImagesAsPngWhenPainted(RadioGroup1);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1->setGeometry(8, 40, 313, 345);
    RadioGroup1Items = new QButtonGroup(this);
    RadioGroup1Items->setExclusive(true);
    for (int i = 0; i < 4; ++i) {
        auto *button = new QRadioButton(QString::fromUtf8(HardwareNames[i]), RadioGroup1);
        button->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
        RadioGroup1Buttons[i] = button;
        RadioGroup1Items->addButton(button, i);
    }
    arrangeRadioButtons();
    connect(RadioGroup1Items, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            RadioGroup1Click();
    });

    Button1 = new QPushButton(QStringLiteral("speichern"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(240, 400, 75, 25);
    Button1->setEnabled(false);
    // Enter saves (while enabled) whichever control has the focus.
    Button1->setDefault(true);
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);

    Button2 = new QPushButton(QStringLiteral("abbrechen"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(16, 400, 75, 25);
    Button2->setAutoDefault(false);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);

    // By keyboard: Tab goes from the models to "abbrechen" and "speichern",
    // left to right as they stand; the arrow keys choose a model.
    for (QRadioButton *button : RadioGroup1Buttons)
        button->installEventFilter(this);
    Button2->installEventFilter(this);
    setTabOrder(RadioGroup1Buttons[3], Button2);
    setTabOrder(Button2, Button1);
}

TForm2::~TForm2()
{
    delete m_qtDialogs;
}

// Like a classic radio group: the items share the group's inner height evenly,
// each text centred in its share.
void TForm2::arrangeRadioButtons()
{
    const int count = 4;
    const int textHeight = QFontMetrics(RadioGroup1->font()).height();
    const int usable = RadioGroup1->height() - textHeight - 5;
    const int itemHeight = usable / count;
    const int top = textHeight + 1 + (usable % count) / 2;
    const int width = RadioGroup1->width() - 10;
    for (int i = 0; i < count; ++i)
        RadioGroup1Buttons[i]->setGeometry(8, top + i * itemHeight, width, itemHeight);
}

int TForm2::ShowModal()
{
    const int result = exec();
    return result == mrOk ? mrOk : mrCancel;
}

void TForm2::setDialogs(tintrava::Dialogs *dialogs)
{
    m_dialogs = dialogs;
}

tintrava::Dialogs &TForm2::dialogs()
{
    return m_dialogs ? *m_dialogs : *m_qtDialogs;
}

int TForm2::itemIndex() const
{
    return RadioGroup1Items->checkedId();
}

void TForm2::setItemIndex(int index)
{
    if (index >= 0 && index < 4)
        RadioGroup1Buttons[index]->setChecked(true);
}

void TForm2::RadioGroup1Click()
{
    if (itemIndex() != -1)
        Button1->setEnabled(true);
}

void TForm2::Button1Click()
{
    const int index = itemIndex();
    if (index == -1)
        return;
    const int number = index + 1;
    // A choice that cannot be kept still serves this run: the user who may
    // not write my.conf would otherwise be shut out of the program.
    QString error;
    if (!tintrava::writeConfigNumber(number, &error))
        dialogs().showError(notKeptText(error).toStdString());
    tintrava::HardwareRow = number;
    done(mrOk);
}

void TForm2::Button2Click()
{
    done(mrCancel);
}

void TForm2::keyPressEvent(QKeyEvent *event)
{
    // "abbrechen" is deliberately not on Escape: a stray key must not end the
    // start-up choice and with it the program.
    if (event->key() == Qt::Key_Escape || event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TForm2::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() & ~Qt::KeypadModifier)
        return QDialog::eventFilter(watched, event);
    // Enter on the focused "abbrechen" means "abbrechen", not the default
    // "speichern": what a keyboard user who went there wants.
    if (watched == Button2 && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        if (!key->isAutoRepeat())
            Button2->click();
        return true;
    }
    const auto at = std::find(std::begin(RadioGroup1Buttons), std::end(RadioGroup1Buttons), watched);
    if (at == std::end(RadioGroup1Buttons))
        return QDialog::eventFilter(watched, event);
    int step = 0;
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left: step = -1; break;
    case Qt::Key_Down:
    case Qt::Key_Right: step = 1; break;
    default: return QDialog::eventFilter(watched, event);
    }
    // Moving chooses the model moved to, like clicking it, also when none
    // was chosen yet; at the ends the choice stays.
    const int index = std::clamp(int(at - std::begin(RadioGroup1Buttons)) + step, 0, 3);
    QRadioButton *target = RadioGroup1Buttons[index];
    target->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    if (!target->isChecked())
        target->click();
    return true;
}

// Closing the window counts as "abbrechen".
void TForm2::reject()
{
    done(mrCancel);
}
