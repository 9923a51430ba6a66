// Run records read back: the set-up from their comment lines and their rows as facts.
#pragma once

#include "run/runfact.h"

#include <QList>

#include <functional>
#include <optional>

namespace chamber {

struct RecordFile
{
    RunSetup setup;
    // A manual record: readings while "Auto" polled outside a run, and the setpoints sent by hand.
    // Its rows are in no run, and it holds no profile.
    bool manual = false;
    // Why the profile could not be read from the comment lines (a damaged record, or one that
    // holds no profile); empty when it was.
    QString setupError;
    QList<RunFact> rows; // every row in file order, unless they were handed to a row reader
    qsizetype rowCount = 0;
    bool ended = false; // its last row is an end: the run did not stop unrecorded
    // The file does not end with a line break: its last line was cut (a crash, a power cut) and
    // is left out.
    bool torn = false;
    qint64 wholeBytes = 0; // the length up to the end of its last whole line
};

// Called for each row as it is read; the row is then not kept in RecordFile::rows.
using RowReader = std::function<void(const RunFact &row)>;

// The record in text. nullopt, with error naming the line and what is wrong, for a text that is
// not a run record or holds a row that cannot be read; a cut last line is not an error.
std::optional<RecordFile> parseRecord(const QByteArray &text, QString &error,
                                      const RowReader &onRow = {});
// parseRecord() on the file at path; error also covers a file that cannot be read.
std::optional<RecordFile> readRecord(const QString &path, QString &error,
                                     const RowReader &onRow = {});

} // namespace chamber
