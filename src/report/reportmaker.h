// The report of each run made once its record is closed, in a process of its own.
#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>

namespace chamber {

// Drawing a day's report takes a second or two and a plot widget, which belong neither in the
// window's 250 ms tick nor on its thread: the program itself is started again, offscreen, as
// "chamberctl --report RECORD", one record at a time, and its exit read.
class ReportMaker : public QObject
{
    Q_OBJECT
public:
    explicit ReportMaker(QObject *parent = nullptr);
    // A report being made is given a little time to finish; those still waiting are started on
    // their own, to finish after the program has ended.
    ~ReportMaker() override;

    // The program that makes reports (the running chamberctl); empty, the default: none is made.
    void setProgram(const QString &program) { program_ = program; }
    QString program() const { return program_; }

    // Makes the report of the record at path, closed and whole on disk, after those before it.
    void make(const QString &record);

signals:
    void written(const QString &record);
    // reason: what the report maker said, or how it ended.
    void failed(const QString &record, const QString &reason);

private:
    void startNext();
    void finished(int exitCode, QProcess::ExitStatus status);

    QString program_;
    QStringList waiting;
    QProcess *process = nullptr;
    QString current; // the record whose report is being made
};

} // namespace chamber
