#pragma once
// Answers the program's real modal boxes from a test. Every few milliseconds
// it looks at QApplication::activeModalWidget(); each box that comes up is
// matched against the next expected one, checked and answered. The answer
// runs from its own zero-delay timer, so a box that opens from inside an
// answer (an error box after a click) is still seen and answered. A box that
// was not expected is recorded and closed; an expected box that never comes
// makes finish() fail after its time-out instead of hanging the test.
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

class ModalPoller : public QObject {
    Q_OBJECT
public:
    // What is wrong with the box (empty: it is the expected one).
    using Check = std::function<QStringList(QWidget *modal)>;
    using Answer = std::function<void(QWidget *modal)>;

    explicit ModalPoller(int intervalMs = 5);
    ~ModalPoller() override;

    void expect(const QString &what, Check check, Answer answer);

    // A message box: caption "Tintrava", no icon, one button "OK", the text; clicks "OK".
    void expectMessage(const QString &text);
    // The error box: caption "Tintrava", error icon, one button "OK", a text
    // starting with textStart; clicks "OK".
    void expectError(const QString &textStart);
    // The information box: caption "Tintrava", information icon, one button
    // "OK", a text starting with textStart; clicks "OK".
    void expectInformation(const QString &textStart);
    // An input box with caption, prompt and default text, pre-filled and fully
    // selected. With typed set, types it over the selection and presses Enter;
    // without, presses Escape.
    void expectInput(const QString &caption, const QString &prompt, const QString &defaultText,
                     std::optional<QString> typed);

    // Processes events until every expected box was answered; false if one
    // did not come within timeoutMs or anything was wrong (see report()).
    bool finish(int timeoutMs = 10000);
    QStringList errors() const { return m_errors; }
    QString report() const;
    // Boxes answered so far, unexpected ones not counted.
    int answered() const { return m_answered; }

    // A short description of a modal widget for messages.
    static QString describe(QWidget *w);
    // Closes any modal widget the way its close button would.
    static void closeBox(QWidget *w);

private:
    void poll();

    struct Step {
        QString what;
        Check check;
        Answer answer;
    };
    QTimer m_timer;
    std::vector<Step> m_steps;
    size_t m_next = 0;
    int m_answered = 0;
    int m_pending = 0;
    std::vector<QPointer<QWidget>> m_busy;
    QStringList m_errors;
};
