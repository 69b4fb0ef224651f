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
        enum Kind { Input, Message, Error, Question, OpenFile, SaveFile, Information } kind;
        std::string caption;     // Input, OpenFile, SaveFile
        std::string prompt;      // Input; OpenFile, SaveFile: the filters
        std::string defaultText; // Input; OpenFile, SaveFile: the start
        std::string text;        // Message/Error/Question/Information: the text; Input, OpenFile, SaveFile: what was returned
        bool yes = false;        // Question: the answer
        std::string filter{};       // SaveFile: the filter shown first
        std::string chosenFilter{}; // SaveFile: the filter returned
    };

    // The next input box is answered with text, as if typed and confirmed.
    void answer(const std::string &text);
    // The next input box is cancelled: it returns its default text.
    void cancel();
    // The next file dialog returns path (empty: cancelled); a save dialog
    // with filter chosen, or the one it showed first when filter is empty.
    void chooseFile(const std::string &path, const std::string &filter = {});
    // The next question is answered "Ja" (true) or "Nein".
    void answerQuestion(bool yes);

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

    const std::vector<Box> &shown() const { return m_shown; }
    std::vector<std::string> messages() const;
    std::vector<std::string> errors() const;
    std::vector<std::string> informations() const;
    std::vector<Box> inputs() const;
    std::vector<Box> ofKind(Box::Kind kind) const;
    // Whether every scripted answer was used.
    bool scriptDone() const { return m_script.empty() && m_files.empty() && m_questions.empty(); }
    void clear();

private:
    std::deque<std::optional<std::string>> m_script; // nullopt: cancel
    struct File {
        std::string path;
        std::string filter;
    };
    std::deque<File> m_files;
    std::deque<bool> m_questions;
    std::vector<Box> m_shown;
};
