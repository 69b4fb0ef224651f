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

void FakeDialogs::clear()
{
    m_script.clear();
    m_shown.clear();
}
