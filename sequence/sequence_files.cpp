#include "sequence/sequence_files.h"

namespace tintrava {

std::string extensionOfFilter(const std::string &filter)
{
    return filter == texts::CsvFilter ? CsvFileExtension : SequenceFileExtension;
}

std::string filterOfPath(const std::string &path)
{
    const std::string csv = CsvFileExtension;
    if (path.size() <= csv.size())
        return texts::TintravaFilter;
    std::string tail = path.substr(path.size() - csv.size());
    for (char &c : tail)
        c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return tail == csv ? texts::CsvFilter : texts::TintravaFilter;
}

std::string withDefaultExtension(const std::string &path, const std::string &extension)
{
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // A leading dot makes a hidden file, not an extension; a trailing dot is
    // no extension either.
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && dot + 1 < name.size())
        return path;
    if (!name.empty() && name.back() == '.')
        return path + extension.substr(1);
    return path + extension;
}

std::string overwriteQuestion(const std::string &path)
{
    return "Die Datei „" + path + "“ gibt es bereits. Soll sie ersetzt werden?";
}

SequenceFiles::Rows SequenceFiles::rowsOfGrid() const
{
    Rows rows;
    for (int row = 1; row < m_grid.rowCount(); ++row)
        rows.push_back({m_grid.cell(0, row), m_grid.cell(1, row), m_grid.cell(2, row)});
    return rows;
}

bool SequenceFiles::hasUnsavedSteps() const
{
    if (m_grid.rowCount() < 2)
        return false;
    return rowsOfGrid() != m_savedRows;
}

bool SequenceFiles::put(Dialogs &dialogs, const std::string &path, bool remember)
{
    // Read first: a file that cannot be opened needs no question.
    SequenceStore::Loaded loaded = m_store.load(path);
    if (!loaded.ok) {
        dialogs.showError(loaded.errorText);
        return false;
    }
    if (hasUnsavedSteps() && !dialogs.question(texts::ReplaceUnsaved))
        return false;
    putStepsInGrid(m_grid, loaded.steps);
    m_savedRows = rowsOfGrid();
    if (remember)
        m_currentPath = path;
    return true;
}

bool SequenceFiles::open(Dialogs &dialogs, const std::string &path)
{
    return put(dialogs, path, true);
}

bool SequenceFiles::openChosen(Dialogs &dialogs)
{
    const std::string path = dialogs.openFileName(texts::OpenCaption, m_currentPath, texts::OpenFilters);
    if (path.empty())
        return false;
    return open(dialogs, path);
}

bool SequenceFiles::saveChosen(Dialogs &dialogs)
{
    // A sequence opened from a spreadsheet's file is saved as one again.
    std::string filter = filterOfPath(m_currentPath);
    const std::string chosen = dialogs.saveFileName(texts::SaveCaption, m_currentPath, texts::SaveFilters, &filter);
    if (chosen.empty())
        return false;
    const std::string path = withDefaultExtension(chosen, extensionOfFilter(filter));
    if (m_store.exists(path) && !dialogs.question(overwriteQuestion(path)))
        return false;
    const Rows rows = rowsOfGrid();
    std::string error;
    if (!m_store.save(path, stepsOfGrid(m_grid), &error)) {
        dialogs.showError(error);
        return false;
    }
    m_savedRows = rows;
    m_currentPath = path;
    return true;
}

bool SequenceFiles::openLast(Dialogs &dialogs)
{
    const std::string path = m_store.lastSequencePath();
    if (!m_store.exists(path)) {
        dialogs.showMessage(texts::NoLastSequence);
        return false;
    }
    // The last sequence is the program's own copy: saving again should not
    // go there by default.
    return put(dialogs, path, false);
}

bool SequenceFiles::saveLast(std::string *errorText)
{
    if (m_grid.rowCount() < 2)
        return true;
    return m_store.saveLast(stepsOfGrid(m_grid), errorText);
}

} // namespace tintrava
