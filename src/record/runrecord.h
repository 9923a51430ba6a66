// The record of one run on disk: a CSV file written and flushed row by row on its own thread.
#pragma once

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

// What the operator set up for the run, as the window's fields showed it when "Run" was ticked.
struct RunProfile
{
    QString port;
    QDateTime started;
    std::array<QString, 4> setpoints; // degrees C
    std::array<QString, 4> dwells;    // seconds
    std::array<bool, 4> used{};       // points 1 and 2 always, 3 and 4 when ticked
    QString cycles;
};

// One line of the record: a reading (temperature set) or an event (event set), with the state of
// the run at that moment.
struct RunRow
{
    static constexpr double none = std::numeric_limits<double>::quiet_NaN();

    QDateTime when;
    double elapsedSeconds = 0;
    double temperature = none; // degrees C; NaN in a row that only records an event
    double setpoint = none;    // the last setpoint sent, degrees C; NaN before the first
    QString phase;
    QString cycle;
    QString errors;
    QString event;
};

// "2026-12-06T14-02-31_COM1.csv": sorts by start time and holds no character that a file system
// refuses.
QString recordFileName(const QDateTime &started, const QString &port);
// ISO 8601 local time with milliseconds and the offset from UTC: "2026-12-06T14:02:31.250+01:00".
QString isoLocalTime(const QDateTime &when);
// The comment lines that open a record, each ending in a newline.
QByteArray recordPreamble(const RunProfile &profile, const QString &version);
QByteArray recordHeader();
QByteArray recordLine(const RunRow &row);

// Rows handed to add() are queued and written by a thread of its own, so that a slow or stuck disk
// never holds up the window's tick; each batch is flushed to the disk before the next is taken.
// A record that cannot be made or written raises failed() once; its later rows are dropped.
class RunRecord : public QObject
{
    Q_OBJECT
public:
    explicit RunRecord(QObject *parent = nullptr);
    ~RunRecord() override; // writes what is queued, then stops the thread

    // Starts a record in folder (made if missing), ending any record still open.
    void begin(const QString &folder, const RunProfile &profile, const QString &version);
    void add(const RunRow &row);
    void end(); // closes the file once the rows before have been written
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
    using Job = std::variant<Open, RunRow, Close>;

    void push(Job job);
    void writer();

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
