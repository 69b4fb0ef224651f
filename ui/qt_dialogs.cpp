#include "ui/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/window_icon.h"

namespace tintrava {

namespace {

// Boxes sit over whichever of our windows is in front, like the originals.
QWidget *boxParent()
{
    // Every box and dialog asks here first; one before the main window
    // shows has its icon too.
    useApplicationIcon();
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

// Once a box is closed, the window it came from gets the keyboard back. A
// window manager does that too, but a session need not have one.
void returnKeyboardTo(const QPointer<QWidget> &parent)
{
    if (parent && parent->window()->isVisible())
        parent->window()->activateWindow();
}

void showBox(const std::string &text, QMessageBox::Icon icon)
{
    const QPointer<QWidget> parent = boxParent();
    QMessageBox box(parent);
    box.setWindowTitle(QString::fromUtf8(ApplicationTitle));
    box.setIcon(icon);
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    returnKeyboardTo(parent);
}

// Qt's own file dialog, so that it speaks German with the program's
// translation whatever the desktop's dialogs would; the caller asks before
// replacing a file and adds the extension.
QString fileDialog(QFileDialog::AcceptMode mode, const std::string &caption, const std::string &start,
                   const std::string &filters, std::string *selectedFilter = nullptr)
{
    QFileDialog dialog(boxParent(), QString::fromStdString(caption));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters(QString::fromStdString(filters).split(QStringLiteral(";;")));
    if (selectedFilter && !selectedFilter->empty())
        dialog.selectNameFilter(QString::fromStdString(*selectedFilter));
    const QString startPath = QString::fromStdString(start);
    if (!startPath.isEmpty()) {
        const QFileInfo info(startPath);
        dialog.setDirectory(info.absolutePath());
        if (mode == QFileDialog::AcceptSave)
            dialog.selectFile(info.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    if (selectedFilter)
        *selectedFilter = dialog.selectedNameFilter().toStdString();
    return dialog.selectedFiles().constFirst();
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
    const QPointer<QWidget> back = parent;
    const bool accepted = box.exec() == QDialog::Accepted;
    returnKeyboardTo(back);
    return accepted ? box.edit()->text() : defaultText;
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

namespace tintrava {

bool QtDialogs::question(const std::string &text)
{
    QMessageBox box(boxParent());
    box.setWindowTitle(QString::fromUtf8(ApplicationTitle));
    box.setIcon(QMessageBox::Question);
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    QPushButton *yes = box.addButton(QStringLiteral("Ja"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("Nein"), QMessageBox::NoRole);
    // Nothing is replaced by pressing Enter without reading.
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

std::string QtDialogs::openFileName(const std::string &caption, const std::string &start,
                                    const std::string &filters)
{
    return fileDialog(QFileDialog::AcceptOpen, caption, start, filters).toStdString();
}

std::string QtDialogs::saveFileName(const std::string &caption, const std::string &start,
                                    const std::string &filters, std::string *selectedFilter)
{
    return fileDialog(QFileDialog::AcceptSave, caption, start, filters, selectedFilter).toStdString();
}

} // namespace tintrava
