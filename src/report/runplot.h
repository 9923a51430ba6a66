// A whole run drawn from its facts, for its report and for looking back at its record.
#pragma once

#include "run/runfact.h"

#include <qcustomplot.h>

namespace chamber {

// Readings (black), setpoints sent (orange steps), the phases as pale bands in the state colours
// and a dashed line at each new cycle, as the live trend draws them, over a dated time axis in
// the run's own offset from UTC. Nothing moves by itself: it shows what it was given.
class RunPlot : public QCustomPlot
{
    Q_OBJECT
public:
    explicit RunPlot(QWidget *parent = nullptr);

    // Facts in the order they happened, a run's or any other.
    void take(const RunFact &fact);
    // After the last fact: the steps and the band in progress end there, and the axes show it all.
    void finish();
    bool isEmpty() const { return first > last; }
    QDateTime firstSeen() const;

private:
    QCPGraph *band(const QString &phase) const;
    void endBand(double when);

    QCPGraph *readingGraph = nullptr;
    QCPGraph *setpointGraph = nullptr;
    QCPGraph *heatBand = nullptr;
    QCPGraph *coolBand = nullptr;
    QCPGraph *waitBand = nullptr;
    QCPGraph *activeBand = nullptr;
    QCPGraph *cycleGraph = nullptr;
    double first = qInf();
    double last = -qInf();
    int offsetFromUtc = 0;
    double lastSetpoint = qQNaN();
};

} // namespace chamber
