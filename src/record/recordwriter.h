// The thread that writes the records: files opened, appended to and closed row by row, each
// forced to the disk as it comes, so that a slow disk never holds up the window's tick.
#pragma once

#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

namespace chamber {

// Several files may be open at once, each named by the number open() gave. A file that cannot be
// made or written raises failed() once; its later rows are dropped.
class RecordWriter : public QObject
{
    Q_OBJECT
public:
    explicit RecordWriter(QObject *parent = nullptr);
    ~RecordWriter() override; // writes what is queued, closes every file, then stops the thread

    // name in folder (made when missing); a name taken already gets a number: "_2.csv", "_3.csv".
    int open(const QString &folder, const QString &name, const QByteArray &preamble);
    // A record written before, taken up again at its end: whatever follows its first wholeBytes
    // (a row torn by a crash) is cut off first.
    int append(const QString &path, qint64 wholeBytes);
    void write(int file, const QByteArray &bytes);
    void close(int file); // once the rows before have been written

    // Blocks until every row handed over so far is on disk (or has failed), for the moment before
    // the program ends.
    void waitWritten();

signals:
    // Both on the thread of this object. path: the file written; reason: why it could not be.
    void failed(int file, const QString &path, const QString &reason);
    // The file is whole on disk and closed.
    void closed(int file, const QString &path);

private:
    struct Open
    {
        int file;
        QString folder; // empty when taking up the file at name again
        QString name;
        QByteArray preamble;
        qint64 wholeBytes = 0;
    };
    struct Line
    {
        int file;
        QByteArray bytes;
    };
    struct Close
    {
        int file;
    };
    using Job = std::variant<Open, Line, Close>;

    void push(Job job);
    void writer();

    int lastFile = 0;
    std::mutex mutex;
    std::condition_variable wake;    // a job was queued, or the thread is to stop
    std::condition_variable drained; // the queue is empty and its rows are on disk
    std::deque<Job> jobs;
    bool busy = false;
    bool stopping = false;
    std::thread thread;
};

// Whether a program is writing the record at path now: every file the writer has open is locked,
// and the lock goes with the program however it ends.
bool recordInUse(const QString &path);

} // namespace chamber
