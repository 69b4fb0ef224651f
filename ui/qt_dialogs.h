#pragma once
// The real modal boxes behind the Dialogs interface.
#include <QDialog>
#include <QString>

#include "sequence/dialogs.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tintrava {

// The input box: a prompt, a one-line field of at most 255 characters
// pre-filled and fully selected, "OK" on Enter and "Abbrechen" on Escape.
class InputBox : public QDialog {
    Q_OBJECT
public:
    InputBox(const QString &caption, const QString &prompt, const QString &defaultText,
             QWidget *parent = nullptr);

    QLabel *promptLabel() const { return m_prompt; }
    QLineEdit *edit() const { return m_edit; }
    QPushButton *okButton() const { return m_ok; }
    QPushButton *cancelButton() const { return m_cancel; }

    // Shows the box modally; the typed text after "OK", otherwise the default.
    static QString ask(const QString &caption, const QString &prompt, const QString &defaultText,
                       QWidget *parent = nullptr);

private:
    QLabel *m_prompt;
    QLineEdit *m_edit;
    QPushButton *m_ok;
    QPushButton *m_cancel;
};

class QtDialogs : public Dialogs {
public:
    std::string inputBox(const std::string &caption, const std::string &prompt,
                         const std::string &defaultText) override;
    void showMessage(const std::string &text) override;
    void showError(const std::string &text) override;
    bool question(const std::string &text) override;
    std::string openFileName(const std::string &caption, const std::string &start,
                             const std::string &filters) override;
    std::string saveFileName(const std::string &caption, const std::string &start,
                             const std::string &filters, std::string *selectedFilter) override;
    void showInformation(const std::string &text) override;

    static constexpr int MaxInputLength = 255;
};

} // namespace tintrava
