#pragma once
// Opening and saving the grid's steps as sequence files: the menu commands,
// the last sequence kept on close, and whether the grid holds steps that were
// changed since they were last opened or saved. Plain C++: the disk is behind
// SequenceStore (the storage layer implements it), the boxes behind Dialogs.
#include <array>
#include <string>
#include <vector>

#include "sequence/dialogs.h"
#include "sequence/sequence_file.h"
#include "sequence/sequence_grid.h"

namespace tintrava {

namespace texts {
inline constexpr const char *OpenCaption = "Abfolge öffnen";
inline constexpr const char *SaveCaption = "Abfolge speichern";
inline constexpr const char *TintravaFilter = "Tintrava-Abfolge (*.tintrava)";
// The same content under the name a spreadsheet program opens on a double-click.
inline constexpr const char *CsvFilter = "CSV (Semikolon) (*.csv)";
inline constexpr const char *OpenFilters =
    "Tintrava-Abfolge (*.tintrava);;CSV (Semikolon) (*.csv);;Alle Dateien (*)";
inline constexpr const char *SaveFilters = "Tintrava-Abfolge (*.tintrava);;CSV (Semikolon) (*.csv)";
inline constexpr const char *ReplaceUnsaved =
    "Die Abfolge in der Liste wurde nicht gespeichert. Trotzdem ersetzen?";
inline constexpr const char *NoLastSequence = "Es wurde noch keine letzte Abfolge gespeichert.";
// Followed by the store's sentence naming the file and the cause.
inline constexpr const char *LastNotSaved = "Die letzte Abfolge konnte nicht gespeichert werden. ";
} // namespace texts

inline constexpr const char *SequenceFileExtension = ".tintrava";
inline constexpr const char *CsvFileExtension = ".csv";

// What a sequence file command needs of the disk.
class SequenceStore {
public:
    virtual ~SequenceStore() = default;

    struct Loaded {
        bool ok = false;
        std::vector<SequenceStep> steps;
        std::string errorText;  // whole sentence for the error box, naming the file
    };
    virtual Loaded load(const std::string &path) = 0;
    // Atomic: a failed save leaves the old file as it was.
    virtual bool save(const std::string &path, const std::vector<SequenceStep> &steps,
                      std::string *errorText) = 0;
    virtual bool exists(const std::string &path) = 0;
    // Where the steps are kept when the main window closes.
    virtual std::string lastSequencePath() = 0;
    // Saves the steps there, making the settings folder first if need be.
    virtual bool saveLast(const std::vector<SequenceStep> &steps, std::string *errorText = nullptr) = 0;
};

// path plus extension (".tintrava" unless given) when its file name has no
// extension.
std::string withDefaultExtension(const std::string &path, const std::string &extension = SequenceFileExtension);
// The extension a name saved with the save dialog's filter gets: ".csv" for
// the CSV filter, ".tintrava" for any other.
std::string extensionOfFilter(const std::string &filter);
// The save dialog's filter for a file name: the CSV one for a ".csv" name.
std::string filterOfPath(const std::string &path);
// "Die Datei „path“ gibt es bereits. Soll sie ersetzt werden?"
std::string overwriteQuestion(const std::string &path);

class SequenceFiles {
public:
    SequenceFiles(SequenceGrid &grid, SequenceStore &store) : m_grid(grid), m_store(store) {}

    // Puts the steps of the file at path in the grid, after asking when the
    // grid holds unsaved steps. A file that cannot be read gets the error box
    // and leaves the grid as it was. True when the grid now holds the file.
    bool open(Dialogs &dialogs, const std::string &path);
    // "Abfolge öffnen…": a file dialog, then open().
    bool openChosen(Dialogs &dialogs);
    // "Abfolge speichern…": a file dialog; the chosen filter's extension
    // added to a name without extension; asks before replacing a file. True
    // when saved.
    bool saveChosen(Dialogs &dialogs);
    // "Letzte Abfolge laden".
    bool openLast(Dialogs &dialogs);
    // On close: the steps as the last sequence; nothing when the grid holds
    // no steps. False, with the reason in errorText, only when writing failed.
    bool saveLast(std::string *errorText = nullptr);

    // Whether the grid holds steps that differ from those last opened or
    // saved (an empty grid holds nothing to lose).
    bool hasUnsavedSteps() const;
    // The file last opened or saved through a dialog, the command line or a
    // drop; the dialogs start there.
    const std::string &currentPath() const { return m_currentPath; }

private:
    using Rows = std::vector<std::array<std::string, 3>>;
    Rows rowsOfGrid() const;
    bool put(Dialogs &dialogs, const std::string &path, bool remember);

    SequenceGrid &m_grid;
    SequenceStore &m_store;
    Rows m_savedRows;  // the grid's steps as last opened or saved
    std::string m_currentPath;
};

} // namespace tintrava
