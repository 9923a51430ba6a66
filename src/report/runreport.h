// The report of a run (PDF) and its summary (JSON), made from the run's record.
#pragma once

#include <QString>

namespace chamber {

// Where the report of record goes: beside it with the same base name (.pdf), or pdf if given;
// the summary beside the report (.summary.json).
struct ReportFiles
{
    QString pdf;
    QString summary;
};
ReportFiles reportFiles(const QString &record, const QString &pdf = {});

// How making a report went, as the command's exit status says it.
enum ReportStatus {
    ReportWritten = 0,
    ReportNotWritten = 1, // the record was read, but a file could not be written
    RecordUnreadable = 2, // as for any command used wrongly: the record is not one
};

// Reads the record row by row (a day of readings is never held as facts) and writes both files,
// each whole or not at all. Needs a QApplication (the plot is drawn by a widget), but never shows
// a window. message: what was written, or what went wrong, naming the record's line.
ReportStatus writeRunReport(const QString &record, const ReportFiles &files, QString &message);

} // namespace chamber
