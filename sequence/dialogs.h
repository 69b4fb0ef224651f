#pragma once
// The program's modal boxes as the editing rules and windows see them. Plain
// C++ so the rules can run without a window; QtDialogs shows the real boxes,
// tests script the answers. All text is UTF-8.
#include <string>

namespace tintrava {

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Caption, prompt and a one-line field pre-filled with defaultText.
    // "OK" returns the typed text; "Abbrechen" or closing returns defaultText.
    virtual std::string inputBox(const std::string &caption, const std::string &prompt,
                                 const std::string &defaultText) = 0;
    // A user error: caption "Tintrava", no icon, one "OK" button.
    virtual void showMessage(const std::string &text) = 0;
    // A failed file operation: caption "Tintrava", error icon, one "OK" button.
    virtual void showError(const std::string &text) = 0;
    // A yes/no question: caption "Tintrava", buttons "Ja" and "Nein"; true
    // for "Ja". Closing the box means "Nein".
    virtual bool question(const std::string &text) = 0;
    // The file dialogs: caption, a start (folder or file, may be empty) and
    // filters as "Name (*.ext);;Name (*)". The chosen path, or empty when
    // cancelled. Saving neither adds an extension nor asks before
    // overwriting: the caller does both. selectedFilter, when given, names
    // the filter shown first (empty: the first one) and receives the one
    // chosen, so that the caller can add its extension.
    virtual std::string openFileName(const std::string &caption, const std::string &start,
                                     const std::string &filters) = 0;
    virtual std::string saveFileName(const std::string &caption, const std::string &start,
                                     const std::string &filters, std::string *selectedFilter) = 0;
    // A hint about the system, not a user error: caption "Tintrava",
    // information icon, one "OK" button.
    virtual void showInformation(const std::string &text) = 0;
};

// Caption of every message and error box.
inline constexpr const char *ApplicationTitle = "Tintrava";

} // namespace tintrava
