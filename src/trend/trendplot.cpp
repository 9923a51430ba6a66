// The live trend plot on QCustomPlot: graphs, time axis, live following and bounded history.
#include "trend/trendplot.h"

#include "trend/phasebands.h"

#include <QLabel>
#include <QScopedValueRollback>

#include <algorithm>
#include <cmath>

namespace chamber {

namespace {

constexpr int tickFontPoints = 8;
constexpr double leastValueSpan = 2.0;   // degrees C shown at least, so noise doesn't fill the plot
constexpr double valueMarginShare = 0.1; // room above and below the data
constexpr int noteMarginPx = 4;
constexpr double longestRedrawMs = 60 * 60 * 1000; // a view of years would overflow the timer

// The phases that have a band, in the order of PhaseBands' kinds.
const QStringList bandPhases = {QStringLiteral("Heat"), QStringLiteral("Cool"),
                                QStringLiteral("Wait")};

// Moves a step line's last point on to when, so the level it holds reaches the present.
void extendTail(QCPGraph *graph, double when)
{
    if (graph->data()->isEmpty())
        return;
    auto last = graph->data()->end() - 1;
    last->key = std::max(last->key, when);
}

// Ends the level a step line holds at when, where the next begins: its tail stops there.
void endStep(QCPGraph *graph, double when)
{
    if (graph->data()->size() < 2)
        return;
    auto last = graph->data()->end() - 1;
    last->key = std::max((last - 1)->key, when);
}

double now()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
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

    setPlottingHint(QCP::phFastPolylines);
    // The bands lie over the grid and beneath every line.
    addLayer(QStringLiteral("bands"), layer(QStringLiteral("main")), limBelow);
    bands = new PhaseBands(xAxis, QStringLiteral("bands"), phaseColours());

    // The cycle marks run from 0 to 1 on a hidden axis of their own, filling the height.
    yAxis2->setRange(0, 1);
    cycleGraph = addGraph(xAxis, yAxis2);
    cycleGraph->setName(QStringLiteral("New cycle"));
    cycleGraph->setLineStyle(QCPGraph::lsImpulse);
    cycleGraph->setPen(QPen(QColor(80, 80, 80), 1, Qt::DashLine));
    cycleGraph->setAntialiased(false); // upright lines on whole pixels: nothing to smooth

    setpointGraph = addGraph();
    setpointGraph->setName(QStringLiteral("Setpoint sent"));
    setpointGraph->setLineStyle(QCPGraph::lsStepLeft);
    setpointGraph->setPen(QPen(QColor(230, 120, 0), 2));
    setpointGraph->setAntialiased(false);

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
    for (QCPGraph *unnamed : {cycleGraph, singleGraph})
        unnamed->removeFromLegend();
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);

    note = new QLabel(this);
    note->setObjectName(QStringLiteral("lookingBack"));
    note->setAttribute(Qt::WA_TransparentForMouseEvents); // a double-click on it is for the plot
    QPalette palette = note->palette();
    palette.setColor(QPalette::Window, QColor(255, 255, 255, 200));
    note->setPalette(palette);
    note->setAutoFillBackground(true);
    note->setMargin(2);
    note->hide();
    setLookingBackNote(QStringLiteral("Looking back — double-click for live"));
    connect(this, &QCustomPlot::afterLayout, this, &TrendPlot::placeNote);

    axisRect()->setRangeDrag(Qt::Horizontal);
    axisRect()->setRangeZoom(Qt::Horizontal);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // A click, or a right-click for the menu, leaves the range alone: only a drag or the wheel
    // moves it, and then the operator has taken the time axis.
    connect(xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this, [this] {
        if (!movingRange)
            setLive(false);
    });
    connect(this, &QCustomPlot::mouseDoubleClick, this, &TrendPlot::followLive);
    connect(this, &QCustomPlot::beforeReplot, this, &TrendPlot::fitValueAxis);
    connect(this, &QCustomPlot::afterReplot, this, [this] {
        changedLowest = qInf();
        changedHighest = -qInf();
        // The present moves on by a pixel in this time: a redraw any sooner shows nothing new.
        // A pixel of a wide view spans minutes (of a day, about three), so a day in view costs
        // no more than the live view.
        const double pixelMs = 1000 * xAxis->range().size() / std::max(1, axisRect()->width());
        const int interval =
            int(std::clamp(std::ceil(pixelMs), double(liveRedrawMs), longestRedrawMs));
        if (redrawTimer.interval() != interval)
            redrawTimer.setInterval(interval);
    });

    redrawTimer.setInterval(liveRedrawMs);
    connect(&redrawTimer, &QTimer::timeout, this, [this] {
        // The present moves on when no reading comes too: a silent controller shows as a gap
        // growing at the right edge, and the setpoint and phase as still in force.
        advance(now());
        redrawIfChanged();
    });
    redrawTimer.start();

    latest = now();
    followLive();
}

QList<QCPRange> TrendPlot::phaseBand(const QString &phase) const
{
    const int kind = bandPhases.indexOf(phase);
    return kind < 0 ? QList<QCPRange>() : bands->intervals(kind);
}

void TrendPlot::addReading(double when, double celsius, bool polled)
{
    (polled ? readingGraph : singleGraph)->addData(when, celsius);
    advance(when);
}

void TrendPlot::addGap(double when)
{
    readingGraph->addData(when, qQNaN());
    advance(when);
}

void TrendPlot::addSetpoint(double when, double celsius)
{
    endStep(setpointGraph, when);
    setpointGraph->addData(when, celsius);
    setpointGraph->addData(when, celsius); // the tail, moved on with time
    advance(when);
}

void TrendPlot::setPhase(double when, const QString &phase)
{
    const int kind = bandPhases.indexOf(phase);
    if (kind == activeKind)
        return;
    activeKind = kind;
    bands->begin(when, kind);
    advance(when);
}

void TrendPlot::addCycleMark(double when)
{
    cycleGraph->addData(when, 1);
    advance(when);
}

void TrendPlot::followLive()
{
    setLive(true);
    showPresent();
    replot(rpQueuedReplot);
}

void TrendPlot::setLookingBackNote(const QString &text)
{
    note->setText(text);
    note->setAccessibleName(text);
    placeNote();
}

QString TrendPlot::lookingBackNote() const
{
    return note->text();
}

void TrendPlot::showEvent(QShowEvent *event)
{
    QCustomPlot::showEvent(event);
    replot(rpQueuedReplot); // nothing is drawn while hidden
}

void TrendPlot::advance(double when)
{
    const double previous = latest;
    latest = std::max(latest, when);
    extendTail(setpointGraph, latest);
    bands->extendTo(latest);
    // what changed: the new point and the tails moved on to it
    changedLowest = std::min({changedLowest, when, previous});
    changedHighest = std::max(changedHighest, latest);

    const double keepFrom = latest - keptSeconds;
    if (keepFrom > keptFrom) {
        for (int i = 0; i < graphCount(); ++i)
            graph(i)->data()->removeBefore(keepFrom);
        bands->removeBefore(keepFrom);
        changedLowest = std::min(changedLowest, keptFrom);
        keptFrom = keepFrom;
    }
    if (live)
        showPresent();
}

void TrendPlot::showPresent()
{
    const QScopedValueRollback moving(movingRange, true);
    xAxis->setRange(latest - liveSpanSeconds, latest);
}

void TrendPlot::setLive(bool on)
{
    live = on;
    if (on) {
        note->hide();
    } else if (note->isHidden()) {
        placeNote();
        note->show();
    }
}

void TrendPlot::placeNote()
{
    // bottom right of the plot area: the legend holds the top left and the window's notice of a
    // silent controller the top
    note->adjustSize();
    const QRect area = axisRect()->rect();
    note->move(area.right() - note->width() - noteMarginPx,
               area.bottom() - note->height() - noteMarginPx);
}

void TrendPlot::redrawIfChanged()
{
    if (!isVisible())
        return;
    // Live, the time axis has moved on with the clock; looking back, the view changes only where
    // new data falls inside it.
    const QCPRange shown = xAxis->range();
    if (live || (changedLowest <= shown.upper && changedHighest >= shown.lower))
        replot(rpQueuedReplot);
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

#include "moc_trendplot.cpp"
