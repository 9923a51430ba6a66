// A whole run drawn from its facts, for its report and for looking back at its record.
#pragma once

#include "run/runfact.h"
#include "trend/phasebands.h"

#include <qcustomplot.h>

namespace chamber {

// The lines and bands of a run, gathered fact by fact. Plain data: it may be gathered on any
// thread, and then shown by a RunPlot on the window's.
struct RunPlotData
{
    enum Band { Heat, Cool, Wait, BandCount };

    RunPlotData();
    // Facts in the order they happened.
    void take(const RunFact &fact);
    // After the last fact: the steps and the band in progress end there.
    void finish();
    bool isEmpty() const { return first > last; }
    QDateTime firstSeen() const;

    // A phase's band: from begin to end, of kind (Heat, Cool or Wait).
    struct BandSpan
    {
        double begin;
        double end;
        int kind;
    };

    QSharedPointer<QCPGraphDataContainer> readings;
    QSharedPointer<QCPGraphDataContainer> setpoints;
    QList<BandSpan> bands; // in time order, never overlapping
    QSharedPointer<QCPGraphDataContainer> cycles;
    double first = qInf(); // seconds since the epoch
    double last = -qInf();
    int offsetFromUtc = 0; // the run's, for its times as it saw them

private:
    void endBand(double when);

    int activeBand = -1;
    double bandBegin = 0;
    double lastSetpoint = qQNaN();
};

// Readings (black), setpoints sent (orange steps), the phases as pale bands in the state colours
// and a dashed line at each new cycle, as the live trend draws them, over a dated time axis in
// the run's own offset from UTC. Nothing moves by itself: it shows what it was given.
class RunPlot : public QCustomPlot
{
    Q_OBJECT
public:
    explicit RunPlot(QWidget *parent = nullptr);

    // Shows data, finished, whole: the time axis spans it, the temperature axis fits it.
    void showRun(const RunPlotData &data);

private:
    QCPGraph *readingGraph = nullptr;
    QCPGraph *setpointGraph = nullptr;
    PhaseBands *bands = nullptr;
    QCPGraph *cycleGraph = nullptr;
};

} // namespace chamber
