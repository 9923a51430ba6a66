// The live trend: readings, setpoints sent, the phases and cycles of a run, in clock time.
#pragma once

#include "run/runfact.h"

#include <qcustomplot.h>

#include <QTimer>

namespace chamber {

// Times are seconds since the epoch (QCustomPlot's date-time keys), passed in by the caller.
class TrendPlot : public QCustomPlot
{
    Q_OBJECT
public:
    static constexpr double liveSpanSeconds = 10 * 60;
    // A day is kept at least; older points are dropped, so memory stays bounded (at four readings
    // a second, about 6 MB of readings).
    static constexpr double keptSeconds = 25 * 60 * 60;
    // The live view moves on with the clock at this pace. Readings come four times a second, but
    // a pixel of the live view spans more than a second: redrawing for each would cost CPU and
    // show nothing new.
    static constexpr int liveRedrawMs = 1000;

    explicit TrendPlot(QWidget *parent = nullptr);

    // polled: one of a series (Auto or Run), drawn as a line; else a single reading, as a dot.
    void addReading(double when, double celsius, bool polled = true);
    void addGap(double when); // the line breaks here: no reading came, or none was asked for
    void addSetpoint(double when, double celsius);
    // "Heat", "Cool" or "Wait" start a band of their colour; anything else ends the band.
    void setPhase(double when, const QString &phase);
    void addCycleMark(double when);
    // A reader of the facts: readings, setpoints, phases, cycles and gaps, at their own times.
    void take(const RunFact &fact);

    // The last liveSpanSeconds, following new data; dragging or zooming the time axis leaves it.
    void followLive();
    bool isLive() const { return live; }

    QCPGraph *readings() const { return readingGraph; }
    QCPGraph *singleReadings() const { return singleGraph; }
    QCPGraph *setpoints() const { return setpointGraph; }
    QCPGraph *phaseBand(const QString &phase) const;
    QCPGraph *cycleMarks() const { return cycleGraph; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QCPGraph *addBandGraph(const QColor &colour);
    void advance(double when, bool redrawNow);
    void fitValueAxis();

    QCPGraph *readingGraph = nullptr;
    QCPGraph *singleGraph = nullptr;
    QCPGraph *setpointGraph = nullptr;
    QCPGraph *heatBand = nullptr;
    QCPGraph *coolBand = nullptr;
    QCPGraph *waitBand = nullptr;
    QCPGraph *activeBand = nullptr; // the band of the phase in progress, if any
    QCPGraph *cycleGraph = nullptr;
    QTimer redrawTimer;
    bool live = true;
    bool dirty = false;
    double latest = 0;
};

} // namespace chamber
