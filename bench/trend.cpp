// Measures the trend with a day of a run (replot time, memory, CPU) and the tick with a run
// recorded.
#include "link/frames.h"
#include "link/seriallink.h"
#include "main/main.h"
#include "trend/trendplot.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

constexpr int readingsPerSecond = 4;
constexpr int daySeconds = 24 * 60 * 60;
constexpr int replots = 20;
constexpr int ticks = 80;
constexpr int defaultLiveSeconds = 60;

// A field of /proc/self/status or /proc/self/smaps_rollup, in kB.
long procKb(const char *file, const QByteArray &field)
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

// The run time in ns the scheduler gave all threads of this process (first field of schedstat).
qint64 cpuNs()
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task) + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

// The controller at the far end answers every frame at once: a reading of 25.0 C to a poll, the
// echo to a write.
class AnsweringLink : public chamber::SerialLink
{
public:
    bool OpenPort(const QString &, const QString &) override { return true; }
    void ClosePort() override {}
    void SendData(const QByteArray &frame) override
    {
        const QByteArray reading = QByteArray::fromHex("010302") + char(0) + char(250);
        pending += frame.at(1) == 3 ? reading + chamber::calccrc(reading) : frame;
        QTimer::singleShot(0, this, [this] { emit DataArrival(); });
    }
    QByteArray ReadData() override { return std::exchange(pending, {}); }
    chamber::ErrorRecord lasterror() const override { return {}; }

private:
    QByteArray pending;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QList<double> timedReplots(chamber::TrendPlot &plot)
{
    QList<double> times;
    for (int i = 0; i < replots; ++i) {
        QElapsedTimer clock;
        clock.start();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        times << clock.nsecsElapsed() / 1e6;
    }
    return times;
}

// A run of short dwells, as the chamber goes through it: every 8 s it heats from 25 to 35 C in
// 1 s, holds 3 s, cools back in 1 s and holds 3 s, each approach a setpoint sent and each cycle
// marked. Feeds the reading of quarter-second number i and what happens with it.
class ShortDwells
{
public:
    static constexpr int cycleQuarters = 8 * readingsPerSecond;

    void feed(chamber::TrendPlot &plot, qint64 i, double when) const
    {
        const int quarter = int(i % cycleQuarters);
        switch (quarter) {
        case 0:
            plot.addCycleMark(when);
            plot.addSetpoint(when, 35.0);
            plot.setPhase(when, QStringLiteral("Heat"));
            break;
        case 1 * readingsPerSecond:
        case 5 * readingsPerSecond:
            plot.setPhase(when, QStringLiteral("Wait"));
            break;
        case 4 * readingsPerSecond:
            plot.addSetpoint(when, 25.0);
            plot.setPhase(when, QStringLiteral("Cool"));
            break;
        default:
            break;
        }
        const double step = 10.0 / readingsPerSecond;
        double celsius = 35.0;
        if (quarter < readingsPerSecond)
            celsius = 25.0 + step * (quarter + 1);
        else if (quarter >= 4 * readingsPerSecond && quarter < 5 * readingsPerSecond)
            celsius = 35.0 - step * (quarter - 4 * readingsPerSecond + 1);
        else if (quarter >= 5 * readingsPerSecond)
            celsius = 25.0;
        plot.addReading(when, celsius + (i % 7) * 0.02);
    }
};

// The share of a core this process takes while readings and phases come in real time, four a
// second, for seconds; what the plot shows is left as it is.
double liveCpuPercent(chamber::TrendPlot &plot, const ShortDwells &run, qint64 &quarter,
                      int seconds)
{
    QTimer feeder;
    feeder.setTimerType(Qt::PreciseTimer);
    feeder.setInterval(1000 / readingsPerSecond);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        run.feed(plot, quarter++, QDateTime::currentMSecsSinceEpoch() / 1000.0);
    });
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    const qint64 cpu0 = cpuNs();
    QElapsedTimer wall;
    wall.start();
    feeder.start();
    loop.exec();
    return 100.0 * double(cpuNs() - cpu0) / double(wall.nsecsElapsed());
}

void benchTrend(int liveSeconds)
{
    const Memory before;
    chamber::TrendPlot plot;
    plot.resize(513, 207); // the band of the window at 96 dpi
    plot.show();
    QCoreApplication::processEvents();
    const Memory empty;

    // A day of that run of short dwells, ending now.
    const ShortDwells run;
    const double end = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    const double start = end - daySeconds;
    QElapsedTimer feeding;
    feeding.start();
    qint64 quarter = 0;
    for (; quarter < qint64(daySeconds) * readingsPerSecond; ++quarter)
        run.feed(plot, quarter, start + double(quarter) / readingsPerSecond);
    const double feedMs = feeding.nsecsElapsed() / 1e6;
    plot.followLive();
    const QList<double> live = timedReplots(plot);
    plot.xAxis->setRange(start, end);
    const QList<double> day = timedReplots(plot);
    const Memory fed;

    std::printf("trend: a day of a run with 3 s dwells (8 s cycles: %d readings, %d phases, %d "
                "cycles) fed in %.0f ms, %.2f us a reading; %d readings kept\n",
                daySeconds * readingsPerSecond, daySeconds / 8 * 4, daySeconds / 8, feedMs,
                feedMs * 1000 / (daySeconds * readingsPerSecond), plot.readings()->data()->size());
    std::printf("  replot, live view (last 10 min): median %.2f ms, slowest %.2f ms\n",
                median(live), *std::max_element(live.begin(), live.end()));
    std::printf("  replot, whole day in view:       median %.2f ms, slowest %.2f ms"
                " (target: under 20 ms)\n",
                median(day), *std::max_element(day.begin(), day.end()));
    std::printf("  memory: RSS %.1f MB before the plot, %.1f MB with it empty, %.1f MB with the "
                "day (growth %.1f MB, target: under 30 MB); PSS %.1f / %.1f / %.1f MB\n",
                before.rssMb, empty.rssMb, fed.rssMb, fed.rssMb - empty.rssMb, before.pssMb,
                empty.pssMb, fed.pssMb);

    // The run goes on in real time: first followed live, then with the day and a quarter of an
    // hour ahead in view, so that each new reading lands inside it.
    plot.followLive();
    const double following = liveCpuPercent(plot, run, quarter, liveSeconds);
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    plot.xAxis->setRange(now - daySeconds, now + 15 * 60);
    const double zoomedOut = liveCpuPercent(plot, run, quarter, liveSeconds);
    std::printf("  CPU while the run goes on (%d s each, /proc/self/task/*/schedstat): live view "
                "%.3f %% of a core, whole day in view %.3f %% (target: under 1 %%)\n",
                liveSeconds, following, zoomedOut);
}

// Ticks timed one by one, with the window's own timer stopped so that only ours run.
QList<double> timedTicks(chamber::main &window)
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

void benchTick()
{
    QTemporaryDir records;
    AnsweringLink link;
    chamber::main window(&link);
    window.findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
    window.setRecordsFolder(records.path());
    window.Form_Load();
    window.show();
    window.findChild<QComboBox *>(QStringLiteral("portselect"))->setCurrentIndex(1);

    auto *autoread = window.findChild<QCheckBox *>(QStringLiteral("autoread"));
    autoread->setChecked(true);
    const QList<double> polling = timedTicks(window);
    autoread->setChecked(false);
    // a run toward 75.0 C that the chamber never reaches: every tick polls and records a reading
    window.findChild<QCheckBox *>(QStringLiteral("cyclerun"))->setChecked(true);
    window.Timer1_Timer(); // the first step also sends the setpoint
    const QList<double> recording = timedTicks(window);
    window.findChild<QCheckBox *>(QStringLiteral("cyclerun"))->setChecked(false);

    std::printf("tick (%d each; the poll's pause is 50 ms of it):\n", ticks);
    std::printf("  Auto, nothing recorded:  median %.2f ms, slowest %.2f ms\n", median(polling),
                *std::max_element(polling.begin(), polling.end()));
    std::printf("  Run, every row recorded: median %.2f ms, slowest %.2f ms\n", median(recording),
                *std::max_element(recording.begin(), recording.end()));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    const int liveSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : defaultLiveSeconds;
    benchTrend(liveSeconds);
    benchTick();
    return 0;
}
