#include "ui/qt_dialogs.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace tintrava {

namespace {

// Boxes sit over whichever of our windows is in front, like the originals.
QWidget *boxParent()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

void showBox(const std::string &text, QMessageBox::Icon icon)
{
    QMessageBox box(boxParent());
    box.setWindowTitle(QString::fromUtf8(ApplicationTitle));
    box.setIcon(icon);
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

} // namespace

InputBox::InputBox(const QString &caption, const QString &prompt, const QString &defaultText,
                   QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint)
{
    setWindowTitle(caption);

    m_prompt = new QLabel(prompt, this);
    m_prompt->setTextFormat(Qt::PlainText);
    m_prompt->setWordWrap(false);

    m_edit = new QLineEdit(this);
    m_edit->setMaxLength(QtDialogs::MaxInputLength);
    m_edit->setText(defaultText);
    m_edit->selectAll();
    m_edit->setMinimumWidth(250);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_cancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    // Enter means "OK" wherever the focus is; Escape means "Abbrechen" (QDialog).
    m_ok->setDefault(true);
    m_ok->setAutoDefault(false);
    m_cancel->setAutoDefault(false);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_edit);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_edit->setFocus();
}

QString InputBox::ask(const QString &caption, const QString &prompt, const QString &defaultText,
                      QWidget *parent)
{
    InputBox box(caption, prompt, defaultText, parent);
    if (box.exec() == QDialog::Accepted)
        return box.edit()->text();
    return defaultText;
}

std::string QtDialogs::inputBox(const std::string &caption, const std::string &prompt,
                                const std::string &defaultText)
{
    return InputBox::ask(QString::fromStdString(caption), QString::fromStdString(prompt),
                         QString::fromStdString(defaultText), boxParent())
        .toStdString();
}

void QtDialogs::showMessage(const std::string &text)
{
    showBox(text, QMessageBox::NoIcon);
}

void QtDialogs::showError(const std::string &text)
{
    showBox(text, QMessageBox::Critical);
}

void QtDialogs::showInformation(const std::string &text)
{
    showBox(text, QMessageBox::Information);
}

} // namespace tintrava
