// The record of one run on disk: a CSV file written and flushed row by row on its own thread.
#pragma once

#include "run/runfact.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <variant>

namespace chamber {

// "2026-12-06T14-02-31_COM1.csv": sorts by start time and holds no character that a file system
// refuses.
QString recordFileName(const QDateTime &started, const QString &port);
// ISO 8601 local time with milliseconds and the offset from UTC: "2026-12-06T14:02:31.250+01:00".
QString isoLocalTime(const QDateTime &when);
// The comment lines that open a record, each ending in a newline.
QByteArray recordPreamble(const RunSetup &setup);
QByteArray recordHeader();
// The row of a fact; empty for a fact that is not a row (a gap).
QByteArray recordLine(const RunFact &fact);

// The facts of each run, from its start to its end, written to a file of its own in the records
// folder. Rows are queued and written by a thread of its own, so that a slow or stuck disk never
// holds up the window's tick; each batch is flushed to the disk before the next is taken. A record
// that cannot be made or written raises failed() once; its later rows are dropped.
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
    bool recording() const { return open; }

    // Blocks until every row handed over so far is on disk (or has failed), for the moment before
    // the program ends.
    void waitWritten();

signals:
    // path: the record's file; reason: why it could not be made or written.
    void failed(const QString &path, const QString &reason);

private:
    struct Open
    {
        QString folder;
        QString name;
        QByteArray preamble;
    };
    struct Close
    {
    };
    using Job = std::variant<Open, QByteArray, Close>;

    void begin(const RunSetup &setup);
    void end(); // closes the file once the rows before have been written
    void push(Job job);
    void writer();

    QString folder_;
    bool open = false;
    std::mutex mutex;
    std::condition_variable wake;    // a job was queued, or the thread is to stop
    std::condition_variable drained; // the queue is empty and its rows are on disk
    std::deque<Job> jobs;
    bool busy = false;
    bool stopping = false;
    std::thread thread;
};

} // namespace chamber
