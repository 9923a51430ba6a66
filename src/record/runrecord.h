// The record of one run on disk: a CSV file written and flushed row by row on the records' writer
// thread.
#pragma once

#include "record/recordwriter.h"
#include "run/runfact.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>

namespace chamber {

// "2026-12-06T14-02-31_COM1.csv": sorts by start time and holds no character that a file system
// refuses.
QString recordFileName(const QDateTime &started, const QString &port);
// ISO 8601 local time with milliseconds and the offset from UTC: "2026-12-06T14:02:31.250+01:00".
QString isoLocalTime(const QDateTime &when);
// The comment lines that open a record, each ending in a newline. A manual record's hold no
// profile.
QByteArray recordPreamble(const RunSetup &setup, bool manual = false);
QByteArray recordHeader();
// The row of a fact; empty for a fact that is not a row (a gap).
QByteArray recordLine(const RunFact &fact);

// The facts of each run, from its start to its end, written to a file of its own in the records
// folder. Rows go to the records' writer thread, so that a slow or stuck disk never holds up the
// window's tick. A record that cannot be made or written raises failed() once; its later rows are
// dropped.
class RunRecord : public QObject
{
    Q_OBJECT
public:
    explicit RunRecord(QObject *parent = nullptr);
    ~RunRecord() override; // writes what is queued, then stops the thread

    void setFolder(const QString &folder) { folder_ = folder; }
    QString folder() const { return folder_; }
    // A reader of the facts: a run's begin opens a record, its end closes it.
    void take(const RunFact &fact);
    bool recording() const { return file != 0; }
    // Ends a run that the program did not end (a crash, a power cut) with the row of ending, in
    // its record at path after its first wholeBytes; closed() follows as for any run.
    void endAfterRestart(const QString &path, qint64 wholeBytes, const RunFact &ending);

    // Blocks until every row handed over so far, of every record, is on disk (or has failed),
    // for the moment before the program ends; failed() and closed() are emitted before it returns.
    void waitWritten();
    // The thread that writes the records, for other records kept beside the runs'.
    RecordWriter *writer() const { return writer_; }

signals:
    // path: the record's file; reason: why it could not be made or written.
    void failed(const QString &path, const QString &reason);
    // The record of a run is closed and whole on disk, at path.
    void closed(const QString &path);

private:
    void end(); // closes the file once the rows before have been written

    QString folder_;
    RecordWriter *writer_ = nullptr;
    int file = 0;    // the writer's number of the run's record; 0 while no run is recorded
    QSet<int> files; // every record of a run handed to the writer and not yet closed
};

} // namespace chamber
