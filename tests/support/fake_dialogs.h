#pragma once
// Boxes for tests: input boxes answer from a script, every box is recorded.
// An input box the script did not expect fails the running test at once.
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sequence/dialogs.h"

class FakeDialogs : public tintrava::Dialogs {
public:
    struct Box {
        enum Kind { Input, Message, Error, Information } kind;
        std::string caption;     // Input only
        std::string prompt;      // Input only
        std::string defaultText; // Input only
        std::string text;        // Message/Error/Information: the text; Input: what was returned
    };

    // The next input box is answered with text, as if typed and confirmed.
    void answer(const std::string &text);
    // The next input box is cancelled: it returns its default text.
    void cancel();

    std::string inputBox(const std::string &caption, const std::string &prompt,
                         const std::string &defaultText) override;
    void showMessage(const std::string &text) override;
    void showError(const std::string &text) override;
    void showInformation(const std::string &text) override;

    const std::vector<Box> &shown() const { return m_shown; }
    std::vector<std::string> messages() const;
    std::vector<std::string> errors() const;
    std::vector<std::string> informations() const;
    std::vector<Box> inputs() const;
    // Whether every scripted answer was used.
    bool scriptDone() const { return m_script.empty(); }
    void clear();

private:
    std::deque<std::optional<std::string>> m_script; // nullopt: cancel
    std::vector<Box> m_shown;
};
