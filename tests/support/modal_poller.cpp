#include "modal_poller.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "ui/qt_dialogs.h"

ModalPoller::ModalPoller(int intervalMs)
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ModalPoller::poll);
    m_timer.start();
}

ModalPoller::~ModalPoller()
{
    m_timer.stop();
}

void ModalPoller::expect(const QString &what, Check check, Answer answer)
{
    m_steps.push_back({what, std::move(check), std::move(answer)});
}

QString ModalPoller::describe(QWidget *w)
{
    if (!w)
        return QStringLiteral("(none)");
    QString text = QString::fromLatin1(w->metaObject()->className()) + QStringLiteral(" \"")
        + w->windowTitle() + QLatin1Char('"');
    if (auto *box = qobject_cast<QMessageBox *>(w))
        text += QStringLiteral(": ") + box->text();
    else if (auto *input = qobject_cast<tintrava::InputBox *>(w))
        text += QStringLiteral(": ") + input->promptLabel()->text();
    return text;
}

void ModalPoller::closeBox(QWidget *w)
{
    if (auto *dialog = qobject_cast<QDialog *>(w))
        dialog->done(QDialog::Rejected);
    else if (w)
        w->close();
}

void ModalPoller::poll()
{
    QWidget *w = QApplication::activeModalWidget();
    if (!w || !w->isVisible())
        return;
    for (const QPointer<QWidget> &busy : m_busy)
        if (busy == w)
            return;

    QPointer<QWidget> guard(w);
    m_busy.push_back(guard);
    ++m_pending;
    auto release = [this, w] {
        for (auto it = m_busy.begin(); it != m_busy.end(); ++it)
            if (it->data() == w || it->isNull()) {
                m_busy.erase(it);
                break;
            }
        --m_pending;
    };

    if (m_next >= m_steps.size()) {
        m_errors << QStringLiteral("unexpected box: ") + describe(w);
        QTimer::singleShot(0, this, [guard, release] {
            if (guard)
                closeBox(guard);
            release();
        });
        return;
    }

    const Step &step = m_steps[m_next++];
    const QStringList problems = step.check(w);
    for (const QString &p : problems)
        m_errors << step.what + QStringLiteral(": ") + p;
    Answer answer = problems.isEmpty() ? step.answer : Answer(&ModalPoller::closeBox);
    if (problems.isEmpty())
        ++m_answered;
    QTimer::singleShot(0, this, [guard, answer, release] {
        if (guard)
            answer(guard);
        release();
    });
}

bool ModalPoller::finish(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while ((m_next < m_steps.size() || m_pending > 0) && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qSleep(2);
    }
    for (size_t i = m_next; i < m_steps.size(); ++i)
        m_errors << QStringLiteral("expected box never came: ") + m_steps[i].what;
    m_next = m_steps.size();
    return m_errors.isEmpty() && m_pending == 0;
}

QString ModalPoller::report() const
{
    return m_errors.isEmpty() ? QStringLiteral("all boxes as expected") : m_errors.join(QStringLiteral("; "));
}

namespace {

QStringList checkBox(QWidget *w, QMessageBox::Icon icon, const std::function<QString(const QString &)> &textProblem)
{
    QStringList problems;
    auto *box = qobject_cast<QMessageBox *>(w);
    if (!box)
        return {QStringLiteral("not a message box but ") + ModalPoller::describe(w)};
    if (box->windowTitle() != QStringLiteral("Tintrava"))
        problems << QStringLiteral("caption \"%1\"").arg(box->windowTitle());
    if (box->icon() != icon)
        problems << QStringLiteral("icon %1 instead of %2").arg(int(box->icon())).arg(int(icon));
    const QString problem = textProblem(box->text());
    if (!problem.isEmpty())
        problems << problem;
    const auto buttons = box->buttons();
    if (buttons.size() != 1 || buttons.first()->text() != QStringLiteral("OK"))
        problems << QStringLiteral("buttons are not just \"OK\"");
    return problems;
}

// QTest::keyClicks knows ASCII only; other characters go in as key events
// that carry just their text, as an input method would deliver them.
void typeText(QWidget *w, const QString &text)
{
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(w, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

void clickOnly(QWidget *w)
{
    auto *box = qobject_cast<QMessageBox *>(w);
    QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
}

} // namespace

void ModalPoller::expectMessage(const QString &text)
{
    expect(
        QStringLiteral("message \"%1\"").arg(text),
        [text](QWidget *w) {
            return checkBox(w, QMessageBox::NoIcon, [text](const QString &shown) {
                return shown == text ? QString() : QStringLiteral("text \"%1\"").arg(shown);
            });
        },
        clickOnly);
}

void ModalPoller::expectError(const QString &textStart)
{
    expect(
        QStringLiteral("error \"%1…\"").arg(textStart),
        [textStart](QWidget *w) {
            return checkBox(w, QMessageBox::Critical, [textStart](const QString &shown) {
                return shown.startsWith(textStart) ? QString() : QStringLiteral("text \"%1\"").arg(shown);
            });
        },
        clickOnly);
}

void ModalPoller::expectInformation(const QString &textStart)
{
    expect(
        QStringLiteral("information \"%1…\"").arg(textStart),
        [textStart](QWidget *w) {
            return checkBox(w, QMessageBox::Information, [textStart](const QString &shown) {
                return shown.startsWith(textStart) ? QString() : QStringLiteral("text \"%1\"").arg(shown);
            });
        },
        clickOnly);
}

void ModalPoller::expectInput(const QString &caption, const QString &prompt, const QString &defaultText,
                              std::optional<QString> typed)
{
    expect(
        QStringLiteral("input box \"%1\"").arg(caption),
        [=](QWidget *w) {
            auto *box = qobject_cast<tintrava::InputBox *>(w);
            if (!box)
                return QStringList{QStringLiteral("not an input box but ") + describe(w)};
            QStringList problems;
            if (box->windowTitle() != caption)
                problems << QStringLiteral("caption \"%1\"").arg(box->windowTitle());
            if (box->promptLabel()->text() != prompt)
                problems << QStringLiteral("prompt \"%1\"").arg(box->promptLabel()->text());
            if (box->edit()->text() != defaultText)
                problems << QStringLiteral("default \"%1\"").arg(box->edit()->text());
            if (box->edit()->selectedText() != defaultText)
                problems << QStringLiteral("selected \"%1\"").arg(box->edit()->selectedText());
            if (box->edit()->maxLength() != 255)
                problems << QStringLiteral("max length %1").arg(box->edit()->maxLength());
            if (box->okButton()->text() != QStringLiteral("OK")
                || box->cancelButton()->text() != QStringLiteral("Abbrechen"))
                problems << QStringLiteral("buttons \"%1\", \"%2\"")
                                .arg(box->okButton()->text(), box->cancelButton()->text());
            return problems;
        },
        [typed](QWidget *w) {
            auto *box = qobject_cast<tintrava::InputBox *>(w);
            QLineEdit *edit = box->edit();
            if (typed) {
                if (typed->isEmpty())
                    QTest::keyClick(edit, Qt::Key_Delete);
                else
                    typeText(edit, *typed);
                QTest::keyClick(edit, Qt::Key_Return);
            } else {
                QTest::keyClick(edit, Qt::Key_Escape);
            }
        });
}
