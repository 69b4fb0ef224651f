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

void FakeDialogs::showInformation(const std::string &text)
{
    m_shown.push_back(Box{Box::Information, {}, {}, {}, text});
}

std::vector<std::string> FakeDialogs::informations() const
{
    std::vector<std::string> out;
    for (const Box &b : m_shown)
        if (b.kind == Box::Information)
            out.push_back(b.text);
    return out;
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

void FakeDialogs::chooseFile(const std::string &path, const std::string &filter)
{
    m_files.push_back({path, filter});
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

template <typename File>
std::string scriptedFile(std::deque<File> &files, std::vector<FakeDialogs::Box> &shown, FakeDialogs::Box box)
{
    if (files.empty()) {
        const std::string message = "unexpected file dialog \"" + box.caption + "\"";
        QTest::qFail(message.c_str(), __FILE__, __LINE__);
    } else {
        box.text = files.front().path;
        box.chosenFilter = files.front().filter.empty() ? box.filter : files.front().filter;
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
                                      const std::string &filters, std::string *selectedFilter)
{
    Box box{Box::SaveFile, caption, filters, start, {}};
    // As the real dialog: the filter asked for, else the first.
    box.filter = selectedFilter && !selectedFilter->empty() ? *selectedFilter : filters.substr(0, filters.find(";;"));
    const std::string path = scriptedFile(m_files, m_shown, box);
    if (selectedFilter && !path.empty())
        *selectedFilter = m_shown.back().chosenFilter;
    return path;
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
