// Measures the trend with a day of a run (replot time, memory, CPU) and the tick with a run
// recorded, with and without run conditions.
#include "answeringlink.h"
#include "conditions/conditionwatch.h"
#include "main/main.h"
#include "measure.h"
#include "run/runfeed.h"
#include "trend/trendplot.h"
#include "util/profilefile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
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

using chamber::median;
using chamber::Memory;
using chamber::timedTicks;

namespace {

constexpr int readingsPerSecond = 4;
constexpr int daySeconds = 24 * 60 * 60;
constexpr int replots = 20;
constexpr int ticks = 80;
constexpr int defaultLiveSeconds = 60;

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
    const qint64 cpu0 = chamber::cpuNs();
    QElapsedTimer wall;
    wall.start();
    feeder.start();
    loop.exec();
    return 100.0 * double(chamber::cpuNs() - cpu0) / double(wall.nsecsElapsed());
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

// Ticks timed one by one: their durations in ms, and the CPU time they took in all.
struct TimedTicks
{
    QList<double> ms;
    double cpuUsPerTick = 0;

    void print(const char *what) const
    {
        std::printf("  %-36s median %.2f ms, slowest %.2f ms; CPU %.0f us a tick\n", what,
                    median(ms), *std::max_element(ms.begin(), ms.end()), cpuUsPerTick);
    }
};

TimedTicks timedCpuTicks(chamber::main &window)
{
    TimedTicks timed;
    const qint64 cpuBefore = chamber::cpuNs();
    timed.ms = timedTicks(window, ticks);
    timed.cpuUsPerTick = (chamber::cpuNs() - cpuBefore) / 1e3 / ticks;
    return timed;
}

// A run toward 75.0 C that the chamber never reaches: every tick polls and records a reading.
TimedTicks timedRun(chamber::main &window)
{
    auto *run = window.findChild<QCheckBox *>(QStringLiteral("cyclerun"));
    run->setChecked(true);
    window.Timer1_Timer(); // the first step also sends the setpoint
    const TimedTicks timed = timedCpuTicks(window);
    run->setChecked(false);
    return timed;
}

void benchTick()
{
    chamber::AnsweringWindow answering;
    chamber::main &window = answering.window;

    auto *autoread = window.findChild<QCheckBox *>(QStringLiteral("autoread"));
    autoread->setChecked(true);
    const TimedTicks polling = timedCpuTicks(window);
    autoread->setChecked(false);
    const TimedTicks recording = timedRun(window);
    // The same run held to every condition: the band, the soak and the three alarm clocks, none
    // of them raised. The profile is the window's own, so only the conditions differ.
    QString error;
    const QString profile = answering.records.filePath(QStringLiteral("conditions.profile"));
    const auto conditions = chamber::parseConditionsLine(
        R"({"tolerance_c":0.5,"guaranteed_soak":true,"approach_limit_s":3600,)"
        R"("deviation_delay_s":60,"silence_limit_s":30})",
        error);
    if (!conditions ||
        !chamber::writeProfile(
            profile, {{75.0, 25.0, 35.0, 25.0}, {5, 5, 5, 5}, {true, true}, 1, *conditions},
            error) ||
        !window.loadProfile(profile)) {
        std::printf("no profile with conditions: %s\n", qPrintable(error));
        return;
    }
    const TimedTicks conditioned = timedRun(window);

    std::printf("tick (%d each; the poll's pause is 50 ms of it):\n", ticks);
    polling.print("Auto, nothing recorded:");
    recording.print("Run, every row recorded:");
    conditioned.print("Run, recorded, with every condition:");
}

// The watch alone, where the tick's noise cannot hide it: a dwell's readings told through a feed
// with and without a watch over every condition, and the once-a-second step, per call.
void benchWatch()
{
    constexpr int readings = 1000000;
    QString error;
    chamber::RunSetup setup;
    setup.port = QStringLiteral("COM1");
    setup.profile.conditions = *chamber::parseConditionsLine(
        R"({"tolerance_c":0.5,"guaranteed_soak":true,"approach_limit_s":3600,)"
        R"("deviation_delay_s":60,"silence_limit_s":30})",
        error);
    const auto nsPerReading = [&](bool watched, double *secondNs) {
        chamber::RunFeed feed;
        chamber::ConditionWatch watch(&feed);
        if (watched)
            QObject::connect(&feed, &chamber::RunFeed::fact, &watch,
                             &chamber::ConditionWatch::take);
        chamber::RunFact fact;
        fact.phase = QStringLiteral("Wait");
        fact.setpoint = 25.0;
        feed.beginRun(setup, fact);
        fact.kind = chamber::RunFact::Reading;
        fact.when = QDateTime::currentDateTime(); // the local time's lookup is the feed's cost
        qint64 stepping = 0;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < readings; ++i) {
            fact.temperature = 25.0 + (i % 5) * 0.1; // in the band
            feed.tell(fact);
            if (i % 4 == 3 && secondNs) {
                QElapsedTimer second;
                second.start();
                watch.second();
                stepping += second.nsecsElapsed();
            }
        }
        if (secondNs)
            *secondNs = double(stepping) / (readings / 4);
        return double(clock.nsecsElapsed() - stepping) / readings;
    };
    const double bare = nsPerReading(false, nullptr);
    double secondNs = 0;
    const double watched = nsPerReading(true, &secondNs);
    std::printf("watch over every condition (%d readings of a dwell):\n", readings);
    std::printf("  a reading told: %.0f ns with the watch, %.0f ns without; its once-a-second "
                "step: %.0f ns\n",
                watched, bare, secondNs);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    const int liveSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : defaultLiveSeconds;
    benchTrend(liveSeconds);
    benchTick();
    benchWatch();
    return 0;
}
