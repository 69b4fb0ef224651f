#include "sequence/sequence_file.h"

#include <cstdint>
#include <optional>

#include "lamp/integer_rule.h"
#include "sequence/palette.h"
#include "sequence/sequence_rules.h"

namespace tintrava {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

// Whether bytes is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF); else where the first bad sequence starts.
bool validUtf8(std::string_view bytes, std::size_t *bad)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        int len = 0;
        std::uint32_t min = 0, cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, min = 0x10000, cp = c & 0x07;
        } else {
            *bad = i;
            return false;
        }
        if (i + len > bytes.size()) {
            *bad = i;
            return false;
        }
        for (int k = 1; k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80) {
                *bad = i;
                return false;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            *bad = i;
            return false;
        }
        i += len;
    }
    return true;
}

int lineOf(std::string_view bytes, std::size_t pos)
{
    int line = 1;
    for (std::size_t i = 0; i < pos && i < bytes.size(); ++i)
        line += bytes[i] == '\n';
    return line;
}

std::string quoted(std::string_view text)
{
    return "„" + std::string(text) + "“";
}

struct Record {
    int line = 0;  // where the record starts
    std::vector<std::string> fields;
};

// Splits the text into records of fields: ';' between fields, LF or CR LF
// after each record; a field in double quotes may hold ';', '"' (doubled),
// CR and LF.
class Splitter {
public:
    explicit Splitter(std::string_view text) : m_text(text) {}

    // False at the end of the text; error set when the text is malformed,
    // errorLine to the line the fault is on. The record's storage is reused
    // from one call to the next: a file of millions of lines costs no
    // allocation per line.
    bool next(Record &record, std::string &error, int &errorLine)
    {
        if (m_pos >= m_text.size())
            return false;
        record.line = m_line;
        record.fields.clear();
        std::string &field = m_field;
        field.clear();
        const auto fail = [&](int line, std::string text) {
            errorLine = line;
            error = "Zeile " + intToStr(line) + ": " + std::move(text);
            return true;
        };
        for (;;) {
            if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                const int startLine = m_line;
                ++m_pos;
                for (;;) {
                    if (m_pos >= m_text.size()) {
                        return fail(startLine, "Anführungszeichen nicht geschlossen");
                    }
                    const char c = m_text[m_pos++];
                    if (c == '"') {
                        if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                            field += '"';
                            ++m_pos;
                            continue;
                        }
                        break;
                    }
                    m_line += c == '\n';
                    field += c;
                }
                if (m_pos < m_text.size() && !isFieldEnd(m_text[m_pos])) {
                    return fail(m_line, "Text nach schließendem Anführungszeichen");
                }
            } else {
                while (m_pos < m_text.size() && !isFieldEnd(m_text[m_pos])) {
                    if (m_text[m_pos] == '"') {
                        return fail(m_line, "Anführungszeichen mitten im Feld");
                    }
                    field += m_text[m_pos++];
                }
            }
            record.fields.push_back(field);
            field.clear();
            if (m_pos >= m_text.size())
                return true;
            const char c = m_text[m_pos++];
            if (c == ';')
                continue;
            if (c == '\r') {
                if (m_pos >= m_text.size() || m_text[m_pos] != '\n') {
                    return fail(m_line, "Wagenrücklauf ohne Zeilenvorschub");
                }
                ++m_pos;
            }
            ++m_line;
            return true;
        }
    }

private:
    static bool isFieldEnd(char c) { return c == ';' || c == '\r' || c == '\n'; }

    std::string_view m_text;
    std::string m_field;
    std::size_t m_pos = 0;
    int m_line = 1;
};

// An empty line, or a row of empty cells as a spreadsheet writes it (";;").
bool isBlank(const Record &record)
{
    for (const std::string &field : record.fields)
        if (!field.empty())
            return false;
    return true;
}

// Spreadsheets save CSV with commas or in the system's 8-bit code page unless
// told otherwise; the user needs to know which options to pick.
constexpr const char *SaveAsAdvice = "Bitte als CSV mit Semikolon als Trennzeichen und UTF-8 speichern.";

// A file whose first line has commas and no semicolons was saved with commas
// between the fields; the header tells before any field is read.
bool commaSeparated(std::string_view firstLine)
{
    return firstLine.find(',') != std::string_view::npos && firstLine.find(';') == std::string_view::npos;
}

bool isHeader(const Record &record)
{
    return record.fields == std::vector<std::string>{"FarbNr", "Bezeichnung", "Minuten"};
}

SequenceFileParse refuse(int line, std::string error)
{
    SequenceFileParse result;
    result.line = line;
    result.error = std::move(error);
    return result;
}

// Lower case for the letters of the palette's captions and their umlauts,
// with ä, ö, ü and ß also as ae, oe, ue and ss, as a name typed on a
// keyboard without them reads. Anything else is kept as it is.
std::string foldedName(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0xC3 && i + 1 < text.size()) {
            switch (static_cast<unsigned char>(text[i + 1])) {
            case 0xA4: case 0x84: out += "ae"; ++i; continue; // ä Ä
            case 0xB6: case 0x96: out += "oe"; ++i; continue; // ö Ö
            case 0xBC: case 0x9C: out += "ue"; ++i; continue; // ü Ü
            case 0x9F: out += "ss"; ++i; continue;            // ß
            default: break;
            }
        }
        if (c == 0xE1 && text.substr(i, 3) == "\xE1\xBA\x9E") { // ẞ
            out += "ss";
            i += 2;
            continue;
        }
        out += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : char(c);
    }
    return out;
}

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Whether a name edited by hand still names palette colour number: its
// caption, in any case, with blanks around it or umlauts spelt out.
bool namesPaletteColour(std::string_view name, int number)
{
    return foldedName(trimmed(name)) == foldedName(paletteCaption(number));
}

// Error text of a step line, or empty when the step is sound.
std::string checkStep(const Record &record, SequenceStep &step)
{
    const std::string at = "Zeile " + intToStr(record.line) + ": ";
    if (record.fields.size() != 3)
        return at + intToStr(std::int64_t(record.fields.size())) + (record.fields.size() == 1 ? " Feld" : " Felder") +
               " statt 3";
    const std::string &number = record.fields[0];
    const std::string &name = record.fields[1];
    const std::string &minutes = record.fields[2];

    const auto colour = parseInteger(number);
    if (!colour || !isStepColour(*colour))
        return at + "unbekannte Farbnummer " + quoted(number);
    step.number = *colour;
    if (step.number != 13 && !namesPaletteColour(name, step.number)) {
        return at + "Farbnummer " + quoted(number) + " (" + paletteCaption(step.number) +
               ") passt nicht zur Bezeichnung " + quoted(name);
    }
    if (step.number == 13) {
        const std::string text = wavelengthTextOfName(name);
        if (text.size() == name.size() || !isAcceptedWavelengthText(text))
            return at + "ungültige Wellenlängen-Angabe " + quoted(name) +
                   " (erwartet: 390 bis 750 gefolgt von „ nm“)";
        step.name = name;
    } else {
        step.name = paletteCaption(step.number);
    }

    const auto value = parseInteger(minutes);
    if (!value || intToStr(*value) != minutes)
        return at + "ungültige Minutenzahl " + quoted(minutes);
    step.minutes = *value;
    return {};
}

bool needsQuotes(const std::string &field)
{
    return field.find_first_of(";\"\r\n") != std::string::npos;
}

void appendField(std::string &out, const std::string &field)
{
    if (!needsQuotes(field)) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

SequenceFileParse readSequenceFile(std::string_view bytes)
{
    if (bytes.size() > SequenceFileLimit)
        return refuse(0, SequenceFileTooLarge);
    if (bytes.substr(0, Bom.size()) == Bom)
        bytes.remove_prefix(Bom.size());
    std::size_t bad = 0;
    if (!validUtf8(bytes, &bad)) {
        const int line = lineOf(bytes, bad);
        return refuse(line, "Zeile " + intToStr(line) + ": kein gültiger UTF-8-Text. " + SaveAsAdvice);
    }
    if (commaSeparated(bytes.substr(0, bytes.find_first_of("\r\n"))))
        return refuse(1, std::string("Zeile 1: die Felder sind durch Kommas getrennt. ") + SaveAsAdvice);

    const auto wrongHeader = [] {
        return refuse(1, std::string("Zeile 1: die erste Zeile muss „") + SequenceFileHeader + "“ lauten");
    };

    // Checked line by line as the lines come, so that no more than the
    // steps themselves is held, however many lines a file has.
    Splitter splitter(bytes);
    Record record;
    std::string error;
    int errorLine = 0;
    bool headerSeen = false;
    // Blank lines are what editors and spreadsheets leave behind at the
    // end; inside the steps they are a fault, named at the first of them.
    std::optional<Record> firstBlank;
    SequenceFileParse result;
    while (splitter.next(record, error, errorLine)) {
        if (!error.empty())
            return refuse(errorLine, error);
        if (!headerSeen) {
            // Compared as fields: a spreadsheet may quote the header's cells.
            if (!isHeader(record))
                return wrongHeader();
            headerSeen = true;
            continue;
        }
        if (isBlank(record)) {
            if (!firstBlank)
                firstBlank = record;
            continue;
        }
        if (firstBlank) {
            SequenceStep unused;
            return refuse(firstBlank->line, checkStep(*firstBlank, unused));
        }
        if (result.steps.size() >= std::size_t(MaxSequenceSteps))
            return refuse(record.line, "Zeile " + intToStr(record.line) + ": mehr als 200.000 Schritte");
        SequenceStep step;
        const std::string fault = checkStep(record, step);
        if (!fault.empty())
            return refuse(record.line, fault);
        result.steps.push_back(std::move(step));
    }
    if (!headerSeen)
        return wrongHeader();
    result.ok = true;
    return result;
}

std::string writeSequenceFile(const std::vector<SequenceStep> &steps)
{
    std::string out(Bom);
    out += SequenceFileHeader;
    out += "\r\n";
    for (const SequenceStep &step : steps) {
        out += intToStr(step.number);
        out += ';';
        appendField(out, step.name);
        out += ';';
        out += intToStr(step.minutes);
        out += "\r\n";
    }
    return out;
}

std::vector<SequenceStep> stepsOfGrid(const SequenceGrid &grid)
{
    std::vector<SequenceStep> steps;
    for (int row = 1; row < grid.rowCount(); ++row) {
        SequenceStep step;
        step.number = strToIntDef(grid.cell(0, row), 0);
        step.name = grid.cell(1, row);
        step.minutes = strToIntDef(grid.cell(2, row), 1);
        steps.push_back(std::move(step));
    }
    return steps;
}

void putStepsInGrid(SequenceGrid &grid, const std::vector<SequenceStep> &steps)
{
    // Down to the header alone, so the first append fixes the header row and
    // puts the selection on the first step, as in the editor.
    grid.setRowCount(1);
    for (const SequenceStep &step : steps) {
        appendStep(grid, step.number, step.name);
        grid.setCell(2, grid.rowCount() - 1, intToStr(step.minutes));
    }
}

} // namespace tintrava
