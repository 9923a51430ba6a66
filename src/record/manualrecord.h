// The record of manual work: readings while "Auto" polls outside a run, and setpoints sent by
// hand, one file for each stretch of polling.
#pragma once

#include "run/runfact.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <functional>

namespace chamber {

class RecordWriter;
class RunRecord;

// A reader of the facts outside a run. A stretch of polling begins with its first reading (a
// stretch with none leaves no file) and ends where polling stops ("Auto" cleared, the port
// changed or closed), a run begins, or the program ends. Its file sits beside the runs' records:
// "2026-12-06T14-02-31_COM1_manual.csv", the same columns, setpoints under "manual setpoint".
class ManualRecord : public QObject
{
    Q_OBJECT
public:
    // Written by the thread of runs' records, into their folder.
    explicit ManualRecord(RunRecord *runs, QObject *parent = nullptr);

    // Who and what a new stretch is recorded for: the program, port, device, operator and test
    // ID as they are when it begins; started is set here.
    void setDescription(std::function<RunSetup()> describe) { description = std::move(describe); }
    void take(const RunFact &fact);
    bool recording() const { return file != 0; }

signals:
    void failed(const QString &path, const QString &reason);

private:
    void end();

    QPointer<RunRecord> runs;
    QPointer<RecordWriter> writer;
    std::function<RunSetup()> description;
    int file = 0;
    QElapsedTimer sinceStart; // the stretch's clock, for the elapsed_s column
};

} // namespace chamber
