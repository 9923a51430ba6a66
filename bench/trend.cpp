// Measures the trend with a day of readings (replot time, memory) and the tick with a run recorded.
#include "answeringlink.h"
#include "main/main.h"
#include "measure.h"
#include "trend/trendplot.h"

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

void benchTick()
{
    chamber::AnsweringWindow answering;
    chamber::main &window = answering.window;

    auto *autoread = window.findChild<QCheckBox *>(QStringLiteral("autoread"));
    autoread->setChecked(true);
    const QList<double> polling = timedTicks(window, ticks);
    autoread->setChecked(false);
    // a run toward 75.0 C that the chamber never reaches: every tick polls and records a reading
    window.findChild<QCheckBox *>(QStringLiteral("cyclerun"))->setChecked(true);
    window.Timer1_Timer(); // the first step also sends the setpoint
    const QList<double> recording = timedTicks(window, ticks);
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
    benchTrend();
    benchTick();
    return 0;
}
