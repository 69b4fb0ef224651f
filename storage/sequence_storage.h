#pragma once
// Sequence files on disk: read with the size limit checked before anything
// is read, saved atomically like "my.conf", and the last sequence kept beside
// "my.conf".
#include <QString>

#include <vector>

#include "sequence/sequence_file.h"
#include "sequence/sequence_files.h"

namespace tintrava {

// The last sequence, in the settings folder beside "my.conf".
QString lastSequenceFilePath();

struct SequenceFileLoad {
    bool ok = false;
    std::vector<SequenceStep> steps;
    // "Die Datei „path“ konnte nicht geöffnet werden: Zeile 4: …"
    QString errorText;
};

SequenceFileLoad loadSequenceFile(const QString &path);
bool saveSequenceFile(const QString &path, const std::vector<SequenceStep> &steps, QString *errorText);

// The disk behind the sequence file commands.
class DiskSequenceStore : public SequenceStore {
public:
    Loaded load(const std::string &path) override;
    bool save(const std::string &path, const std::vector<SequenceStep> &steps, std::string *errorText) override;
    bool exists(const std::string &path) override;
    std::string lastSequencePath() override;
    bool saveLast(const std::vector<SequenceStep> &steps, std::string *errorText = nullptr) override;
};

} // namespace tintrava
