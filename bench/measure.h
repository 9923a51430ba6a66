// What the benchmarks measure with: memory, CPU time from the scheduler, medians, timed ticks.
#pragma once

#include "main/main.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>

#include <algorithm>

namespace chamber {

// A field of /proc/self/status or /proc/self/smaps_rollup, in kB.
inline long procKb(const char *file, const QByteArray &field)
{
    QFile proc(QString::fromLatin1(file));
    if (!proc.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : proc.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLong();
    return -1;
}

struct Memory
{
    double rssMb = procKb("/proc/self/status", "VmRSS") / 1024.0;
    double pssMb = procKb("/proc/self/smaps_rollup", "Pss") / 1024.0;
};

inline double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The run time the scheduler gave every thread of this process alive now, in nanoseconds (the
// first field of /proc/self/task/*/schedstat).
inline qint64 cpuNs()
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

// Ticks timed one by one, with the window's own timer stopped so that only ours run.
inline QList<double> timedTicks(main &window, int ticks)
{
    QList<double> times;
    for (int i = 0; i < ticks; ++i) {
        QElapsedTimer clock;
        clock.start();
        window.Timer1_Timer();
        times << clock.nsecsElapsed() / 1e6;
    }
    return times;
}

} // namespace chamber
