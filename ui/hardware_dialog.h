#pragma once
// Form2, the hardware dialog: the user picks the lamp model, "speichern"
// stores it in "my.conf" and makes it the colour-table row of this run.
#include <QDialog>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace tintrava {
class Dialogs;
class QtDialogs;
}

// Modal results as the rest of the program knows them.
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget *parent = nullptr);
    ~TForm2() override;

    // Shows the dialog modally and returns mrOk or mrCancel.
    int ShowModal();

    // Where the error box of a failed save goes; nullptr for the real boxes.
    void setDialogs(tintrava::Dialogs *dialogs);
    tintrava::Dialogs &dialogs();

    // Position of the chosen model in RadioGroup1, -1 while none is chosen.
    int itemIndex() const;
    void setItemIndex(int index);

    QLabel *Label1;
    QGroupBox *RadioGroup1;
    QButtonGroup *RadioGroup1Items;
    QRadioButton *RadioGroup1Buttons[4];
    QPushButton *Button1; // "speichern"
    QPushButton *Button2; // "abbrechen"

public slots:
    void RadioGroup1Click();
    void Button1Click();
    void Button2Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Arrow keys on the models, Enter on "abbrechen".
    bool eventFilter(QObject *watched, QEvent *event) override;
    void reject() override;

private:
    void arrangeRadioButtons();

    tintrava::Dialogs *m_dialogs = nullptr;
    tintrava::QtDialogs *m_qtDialogs;
};
