// The live trend: readings, setpoints sent, the phases and cycles of a run, in clock time.
#pragma once

#include "run/runfact.h"

#include <qcustomplot.h>

#include <QTimer>

class QLabel;

namespace chamber {

class PhaseBands;

// Times are seconds since the epoch (QCustomPlot's date-time keys), passed in by the caller.
class TrendPlot : public QCustomPlot
{
    Q_OBJECT
public:
    static constexpr double liveSpanSeconds = 10 * 60;
    // A day is kept at least; older points are dropped, so memory stays bounded (at four readings
    // a second, about 6 MB of readings).
    static constexpr double keptSeconds = 25 * 60 * 60;
    // The plot is redrawn at most this often, and only when what it shows has changed: as the
    // present moves on by a pixel of the view, and no sooner than this. Readings come four times a
    // second, but a pixel of the live view spans more than a second: redrawing for each would
    // cost CPU and show nothing new.
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

    // The last liveSpanSeconds, following new data and the clock. Only the operator's dragging or
    // zooming of the time axis leaves it, and then the note says so until a double-click.
    void followLive();
    bool isLive() const { return live; }
    // What the note over the plot says while the view does not follow the present.
    void setLookingBackNote(const QString &text);
    QString lookingBackNote() const;

    QCPGraph *readings() const { return readingGraph; }
    QCPGraph *singleReadings() const { return singleGraph; }
    QCPGraph *setpoints() const { return setpointGraph; }
    // The times of the bands of phase ("Heat", "Cool" or "Wait"), oldest first; the band in
    // progress reaches the present.
    QList<QCPRange> phaseBand(const QString &phase) const;
    QCPGraph *cycleMarks() const { return cycleGraph; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void advance(double when);
    void showPresent();
    void setLive(bool on);
    void placeNote();
    void redrawIfChanged();
    void fitValueAxis();

    QCPGraph *readingGraph = nullptr;
    QCPGraph *singleGraph = nullptr;
    QCPGraph *setpointGraph = nullptr;
    PhaseBands *bands = nullptr;
    QCPGraph *cycleGraph = nullptr;
    QLabel *note = nullptr;
    QTimer redrawTimer; // every pixel's time of the view, a second at least
    bool live = true;
    bool movingRange = false; // the range is being moved here, not by the operator
    int activeKind = -1;      // the band in progress, if any
    double latest = 0;
    double keptFrom = -qInf();
    // The times whose drawing changed since the last redraw; empty when lowest > highest.
    double changedLowest = -qInf();
    double changedHighest = qInf();
};

} // namespace chamber
