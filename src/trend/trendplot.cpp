// The live trend plot on QCustomPlot: graphs, time axis, live following and bounded history.
#include "trend/trendplot.h"

#include <algorithm>

namespace chamber {

namespace {

constexpr int tickFontPoints = 8;
constexpr double leastValueSpan = 2.0;   // degrees C shown at least, so noise doesn't fill the plot
constexpr double valueMarginShare = 0.1; // room above and below the data

// Moves a step line's last point on to when, so the level it holds reaches the present.
void extendTail(QCPGraph *graph, double when)
{
    if (graph->data()->isEmpty())
        return;
    auto last = graph->data()->end() - 1;
    last->key = std::max(last->key, when);
}

// A phase's colour as the state field shows it, made pale enough to lie beneath the lines.
QColor pale(const QColor &colour)
{
    QColor light = colour;
    light.setAlpha(40);
    return light;
}

} // namespace

TrendPlot::TrendPlot(QWidget *parent)
    : QCustomPlot(parent)
{
    setFocusPolicy(Qt::NoFocus); // the window's tab order is the operator's, not the plot's
    setFont(QFont(font().family(), tickFontPoints));
    QFont tickFont = font();
    tickFont.setBold(false);
    tickFont.setPointSize(tickFontPoints);
    for (QCPAxis *axis : {xAxis, yAxis}) {
        axis->setTickLabelFont(tickFont);
        axis->setLabelFont(tickFont);
    }
    yAxis->setLabel(QStringLiteral("°C"));

    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::LocalTime);
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
    ticker->setTickCount(5);
    xAxis->setTicker(ticker);

    // The bands and cycle marks run from 0 to 1 on a hidden axis of their own, filling the height.
    yAxis2->setRange(0, 1);
    heatBand = addBandGraph(QColor(255, 0, 0));
    coolBand = addBandGraph(QColor(0, 0, 255));
    waitBand = addBandGraph(QColor(0, 255, 0));
    cycleGraph = addGraph(xAxis, yAxis2);
    cycleGraph->setName(QStringLiteral("New cycle"));
    cycleGraph->setLineStyle(QCPGraph::lsImpulse);
    cycleGraph->setPen(QPen(QColor(80, 80, 80), 1, Qt::DashLine));

    setpointGraph = addGraph();
    setpointGraph->setName(QStringLiteral("Setpoint sent"));
    setpointGraph->setLineStyle(QCPGraph::lsStepLeft);
    setpointGraph->setPen(QPen(QColor(230, 120, 0), 2));

    readingGraph = addGraph();
    readingGraph->setName(QStringLiteral("Temperature"));
    readingGraph->setPen(QPen(QColor(0, 0, 0), 1));
    singleGraph = addGraph();
    singleGraph->setLineStyle(QCPGraph::lsNone);
    singleGraph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(0, 0, 0), 4));

    // Which line is which, small in a corner; the bands speak for themselves in the state colours.
    legend->setVisible(true);
    legend->setFont(tickFont);
    legend->setBrush(QColor(255, 255, 255, 200));
    legend->setRowSpacing(0);
    for (QCPGraph *unnamed : {heatBand, coolBand, waitBand, cycleGraph, singleGraph})
        unnamed->removeFromLegend();
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);

    axisRect()->setRangeDrag(Qt::Horizontal);
    axisRect()->setRangeZoom(Qt::Horizontal);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // the operator took the time axis: stop following until a double-click
    connect(this, &QCustomPlot::mousePress, this, [this] { live = false; });
    connect(this, &QCustomPlot::mouseWheel, this, [this] { live = false; });
    connect(this, &QCustomPlot::mouseDoubleClick, this, &TrendPlot::followLive);
    connect(this, &QCustomPlot::beforeReplot, this, &TrendPlot::fitValueAxis);

    redrawTimer.setInterval(liveRedrawMs);
    connect(&redrawTimer, &QTimer::timeout, this, [this] {
        // The present moves on when no reading comes too: a silent controller shows as a gap
        // growing at the right edge, and the setpoint and phase as still in force.
        const bool redraw = dirty || live;
        advance(QDateTime::currentMSecsSinceEpoch() / 1000.0, redraw);
        dirty = false;
    });
    redrawTimer.start();

    latest = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    followLive();
}

QCPGraph *TrendPlot::addBandGraph(const QColor &colour)
{
    QCPGraph *band = addGraph(xAxis, yAxis2);
    band->setLineStyle(QCPGraph::lsStepLeft);
    band->setPen(Qt::NoPen);
    band->setBrush(pale(colour));
    band->setAdaptiveSampling(false); // a band of a few points must keep its exact edges
    band->setAntialiasedFill(false);  // upright rectangles: smoothing costs time and shows nothing
    return band;
}

QCPGraph *TrendPlot::phaseBand(const QString &phase) const
{
    if (phase == QLatin1String("Heat"))
        return heatBand;
    if (phase == QLatin1String("Cool"))
        return coolBand;
    if (phase == QLatin1String("Wait"))
        return waitBand;
    return nullptr;
}

void TrendPlot::addReading(double when, double celsius, bool polled)
{
    (polled ? readingGraph : singleGraph)->addData(when, celsius);
    advance(when, false);
}

void TrendPlot::addGap(double when)
{
    readingGraph->addData(when, qQNaN());
    advance(when, true);
}

void TrendPlot::addSetpoint(double when, double celsius)
{
    extendTail(setpointGraph, when);
    setpointGraph->addData(when, celsius);
    setpointGraph->addData(when, celsius); // the tail, moved on with time
    advance(when, true);
}

void TrendPlot::setPhase(double when, const QString &phase)
{
    QCPGraph *band = phaseBand(phase);
    if (band == activeBand)
        return;
    if (activeBand) {
        extendTail(activeBand, when);
        activeBand->addData(when, 0);
    }
    activeBand = band;
    if (activeBand) {
        activeBand->addData(when, 1);
        activeBand->addData(when, 1); // the tail
    }
    advance(when, true);
}

void TrendPlot::addCycleMark(double when)
{
    cycleGraph->addData(when, 1);
    advance(when, true);
}

void TrendPlot::followLive()
{
    live = true;
    xAxis->setRange(latest - liveSpanSeconds, latest);
    replot(rpQueuedReplot);
}

void TrendPlot::showEvent(QShowEvent *event)
{
    QCustomPlot::showEvent(event);
    replot(rpQueuedReplot); // nothing is drawn while hidden
}

void TrendPlot::advance(double when, bool redrawNow)
{
    latest = std::max(latest, when);
    extendTail(setpointGraph, latest);
    if (activeBand)
        extendTail(activeBand, latest);
    for (int i = 0; i < graphCount(); ++i)
        graph(i)->data()->removeBefore(latest - keptSeconds);
    if (live)
        xAxis->setRange(latest - liveSpanSeconds, latest);
    if (redrawNow && isVisible())
        replot(rpQueuedReplot);
    else
        dirty = true;
}

void TrendPlot::fitValueAxis()
{
    // The temperature scale follows what the time axis shows, whoever moved it. A plain loop: a
    // day in view is some 350,000 readings, and QCPDataContainer::valueRange() takes milliseconds.
    const QCPRange shown = xAxis->range();
    double lowest = qInf();
    double highest = -qInf();
    for (QCPGraph *graph : {readingGraph, singleGraph, setpointGraph}) {
        const QCPGraphDataContainer &data = *graph->data();
        const auto end = data.findEnd(shown.upper, false);
        for (auto it = data.findBegin(shown.lower, false); it != end; ++it) {
            // NaN, the gap of a silence, fails both tests
            if (it->value < lowest)
                lowest = it->value;
            if (it->value > highest)
                highest = it->value;
        }
    }
    if (lowest > highest)
        return; // nothing in view: the scale stays as it was
    const double span = std::max(highest - lowest, leastValueSpan);
    const double centre = (lowest + highest) / 2;
    const double half = span * (0.5 + valueMarginShare);
    yAxis->setRange(centre - half, centre + half);
}

} // namespace chamber
