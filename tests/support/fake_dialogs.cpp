#include "fake_dialogs.h"

#include <QtTest>

void FakeDialogs::answer(const std::string &text)
{
    m_script.emplace_back(text);
}

void FakeDialogs::cancel()
{
    m_script.emplace_back(std::nullopt);
}

std::string FakeDialogs::inputBox(const std::string &caption, const std::string &prompt,
                                  const std::string &defaultText)
{
    Box box{Box::Input, caption, prompt, defaultText, defaultText};
    if (m_script.empty()) {
        const std::string message = "unexpected input box \"" + caption + "\": \"" + prompt + "\"";
        QTest::qFail(message.c_str(), __FILE__, __LINE__);
    } else {
        if (m_script.front())
            box.text = *m_script.front();
        m_script.pop_front();
    }
    m_shown.push_back(box);
    return box.text;
}

void FakeDialogs::showMessage(const std::string &text)
{
    m_shown.push_back(Box{Box::Message, {}, {}, {}, text});
}

void FakeDialogs::showError(const std::string &text)
{
    m_shown.push_back(Box{Box::Error, {}, {}, {}, text});
}

std::vector<std::string> FakeDialogs::messages() const
{
    std::vector<std::string> out;
    for (const Box &b : m_shown)
        if (b.kind == Box::Message)
            out.push_back(b.text);
    return out;
}

std::vector<std::string> FakeDialogs::errors() const
{
    std::vector<std::string> out;
    for (const Box &b : m_shown)
        if (b.kind == Box::Error)
            out.push_back(b.text);
    return out;
}

std::vector<FakeDialogs::Box> FakeDialogs::inputs() const
{
    std::vector<Box> out;
    for (const Box &b : m_shown)
        if (b.kind == Box::Input)
            out.push_back(b);
    return out;
}

void FakeDialogs::chooseFile(const std::string &path)
{
    m_files.push_back(path);
}

void FakeDialogs::answerQuestion(bool yes)
{
    m_questions.push_back(yes);
}

bool FakeDialogs::question(const std::string &text)
{
    Box box{Box::Question, {}, {}, {}, text};
    if (m_questions.empty()) {
        const std::string message = "unexpected question \"" + text + "\"";
        QTest::qFail(message.c_str(), __FILE__, __LINE__);
    } else {
        box.yes = m_questions.front();
        m_questions.pop_front();
    }
    m_shown.push_back(box);
    return box.yes;
}

namespace {

std::string scriptedFile(std::deque<std::string> &files, std::vector<FakeDialogs::Box> &shown,
                         FakeDialogs::Box box)
{
    if (files.empty()) {
        const std::string message = "unexpected file dialog \"" + box.caption + "\"";
        QTest::qFail(message.c_str(), __FILE__, __LINE__);
    } else {
        box.text = files.front();
        files.pop_front();
    }
    shown.push_back(box);
    return box.text;
}

} // namespace

std::string FakeDialogs::openFileName(const std::string &caption, const std::string &start,
                                      const std::string &filters)
{
    return scriptedFile(m_files, m_shown, Box{Box::OpenFile, caption, filters, start, {}});
}

std::string FakeDialogs::saveFileName(const std::string &caption, const std::string &start,
                                      const std::string &filters)
{
    return scriptedFile(m_files, m_shown, Box{Box::SaveFile, caption, filters, start, {}});
}

std::vector<FakeDialogs::Box> FakeDialogs::ofKind(Box::Kind kind) const
{
    std::vector<Box> out;
    for (const Box &b : m_shown)
        if (b.kind == kind)
            out.push_back(b);
    return out;
}

void FakeDialogs::clear()
{
    m_files.clear();
    m_questions.clear();
    m_script.clear();
    m_shown.clear();
}
