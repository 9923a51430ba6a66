// Measures the trend with a day of readings (replot time, memory) and the tick with a run recorded,
// with and without run conditions.
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
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

using chamber::median;
using chamber::Memory;
using chamber::timedTicks;

namespace {

constexpr int readingsPerSecond = 4;
constexpr int daySeconds = 24 * 60 * 60;
constexpr int replots = 20;
constexpr int ticks = 80;

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

void benchTrend()
{
    const Memory before;
    chamber::TrendPlot plot;
    plot.resize(513, 207); // the band of the window at 96 dpi
    plot.show();
    QCoreApplication::processEvents();
    const Memory empty;

    // A day of a chamber cycling between 25 and 75 C every 20 minutes, with a setpoint, a phase
    // and, every hour, a new cycle at each turn.
    const double end = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    const double start = end - daySeconds;
    QElapsedTimer feeding;
    feeding.start();
    for (int i = 0; i < daySeconds * readingsPerSecond; ++i) {
        const double when = start + double(i) / readingsPerSecond;
        const int step = i % (1200 * readingsPerSecond);
        if (step == 0) {
            const bool up = (i / (1200 * readingsPerSecond)) % 2 == 0;
            plot.addSetpoint(when, up ? 75.0 : 25.0);
            plot.setPhase(when, up ? QStringLiteral("Heat") : QStringLiteral("Cool"));
            if (i % (3600 * readingsPerSecond) == 0)
                plot.addCycleMark(when);
        }
        plot.addReading(when, 50.0 + 25.0 * std::sin(i * 0.0001) + (i % 7) * 0.1);
    }
    const double feedMs = feeding.nsecsElapsed() / 1e6;
    const QList<double> live = timedReplots(plot);
    plot.xAxis->setRange(start, end);
    const QList<double> day = timedReplots(plot);
    const Memory fed;

    std::printf("trend: %d readings (24 h at %d/s) fed in %.0f ms, %.2f us each; %d kept\n",
                daySeconds * readingsPerSecond, readingsPerSecond, feedMs,
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
    benchTrend();
    benchTick();
    benchWatch();
    return 0;
}
