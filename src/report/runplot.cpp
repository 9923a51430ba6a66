// A whole run on QCustomPlot: its graphs, bands and dated time axis.
#include "report/runplot.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace chamber {

namespace {

constexpr int tickFontPoints = 8;
constexpr double leastValueSpan = 2.0;   // degrees C shown at least, so noise doesn't fill the plot
constexpr double valueMarginShare = 0.1; // room above and below the data

} // namespace

RunPlotData::RunPlotData()
    : readings(QSharedPointer<QCPGraphDataContainer>::create())
    , setpoints(QSharedPointer<QCPGraphDataContainer>::create())
    , cycles(QSharedPointer<QCPGraphDataContainer>::create())
{}

void RunPlotData::endBand(double when)
{
    if (activeBand >= 0)
        bands.append({bandBegin, when, activeBand});
    activeBand = -1;
}

void RunPlotData::take(const RunFact &fact)
{
    const double when = fact.when.toMSecsSinceEpoch() / 1000.0;
    if (isEmpty())
        offsetFromUtc = fact.when.offsetFromUtc();
    first = std::min(first, when);
    last = std::max(last, when);
    switch (fact.kind) {
    case RunFact::Reading:
    case RunFact::SingleReading:
        readings->add(QCPGraphData(when, fact.temperature));
        break;
    case RunFact::SetpointSent:
        setpoints->add(QCPGraphData(when, fact.setpoint));
        lastSetpoint = fact.setpoint;
        break;
    case RunFact::Phase: {
        static const QString phases[] = {QStringLiteral("Heat"), QStringLiteral("Cool"),
                                         QStringLiteral("Wait")};
        const int next =
            int(std::find(std::begin(phases), std::end(phases), fact.phase) - std::begin(phases));
        const int band = next < BandCount ? next : -1;
        if (band != activeBand) {
            endBand(when);
            activeBand = band;
            bandBegin = when;
        }
        break;
    }
    case RunFact::Cycle:
        cycles->add(QCPGraphData(when, 1));
        break;
    case RunFact::Gap:
        readings->add(QCPGraphData(when, qQNaN())); // the line breaks where nothing was asked
        break;
    case RunFact::Event:
        if (fact.text == QLatin1String("no reply"))
            readings->add(QCPGraphData(when, qQNaN()));
        break;
    case RunFact::RunBegun:
        break;
    case RunFact::RunEnded:
        endBand(when);
        break;
    }
}

void RunPlotData::finish()
{
    if (isEmpty())
        return;
    endBand(last);
    if (!std::isnan(lastSetpoint))
        setpoints->add(QCPGraphData(last, lastSetpoint)); // the last level holds to the end
    lastSetpoint = qQNaN();
}

QDateTime RunPlotData::firstSeen() const
{
    return isEmpty() ? QDateTime()
                     : QDateTime::fromMSecsSinceEpoch(qint64(first * 1000), Qt::OffsetFromUTC,
                                                      offsetFromUtc);
}

RunPlot::RunPlot(QWidget *parent)
    : QCustomPlot(parent)
{
    QFont tickFont = font();
    tickFont.setPointSize(tickFontPoints);
    for (QCPAxis *axis : {xAxis, yAxis}) {
        axis->setTickLabelFont(tickFont);
        axis->setLabelFont(tickFont);
    }
    yAxis->setLabel(QStringLiteral("°C"));
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd\nHH:mm:ss"));
    ticker->setTickCount(6);
    xAxis->setTicker(ticker);

    // The same bands as the live trend's: a day of short dwells draws as fast as a few.
    addLayer(QStringLiteral("bands"), layer(QStringLiteral("main")), limBelow);
    bands = new PhaseBands(xAxis, QStringLiteral("bands"), phaseColours());
    // The cycle marks run from 0 to 1 on a hidden axis of their own, filling the height.
    yAxis2->setRange(0, 1);
    cycleGraph = addGraph(xAxis, yAxis2);
    cycleGraph->setLineStyle(QCPGraph::lsImpulse);
    cycleGraph->setPen(QPen(QColor(80, 80, 80), 1, Qt::DashLine));
    cycleGraph->removeFromLegend();

    setpointGraph = addGraph();
    setpointGraph->setName(QStringLiteral("Setpoint sent"));
    setpointGraph->setLineStyle(QCPGraph::lsStepLeft);
    setpointGraph->setPen(QPen(QColor(230, 120, 0), 2));
    readingGraph = addGraph();
    readingGraph->setName(QStringLiteral("Temperature"));
    readingGraph->setPen(QPen(QColor(0, 0, 0), 1));

    legend->setVisible(true);
    legend->setFont(tickFont);
    legend->setBrush(QColor(255, 255, 255, 200));
    legend->setRowSpacing(0);
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
}

void RunPlot::showRun(const RunPlotData &data)
{
    readingGraph->setData(data.readings);
    setpointGraph->setData(data.setpoints);
    bands->removeBefore(qInf());
    double bandEnd = -qInf();
    for (const RunPlotData::BandSpan &band : data.bands) {
        if (band.begin > bandEnd)
            bands->begin(bandEnd, -1); // a time without a phase between two bands
        bands->begin(band.begin, band.kind);
        bandEnd = band.end;
    }
    bands->begin(bandEnd, -1);
    cycleGraph->setData(data.cycles);
    if (data.isEmpty())
        return;
    auto ticker = qSharedPointerCast<QCPAxisTickerDateTime>(xAxis->ticker());
    // the times as the record has them, wherever the report is made
    ticker->setDateTimeSpec(Qt::TimeZone);
    ticker->setTimeZone(QTimeZone(data.offsetFromUtc));
    xAxis->setRange(data.first, std::max(data.last, data.first + 1));

    double lowest = qInf();
    double highest = -qInf();
    for (const auto &graph : {data.readings, data.setpoints}) {
        for (const QCPGraphData &point : *graph) {
            // NaN, the gap of a silence, fails both tests
            if (point.value < lowest)
                lowest = point.value;
            if (point.value > highest)
                highest = point.value;
        }
    }
    if (lowest > highest)
        return;
    const double span = std::max(highest - lowest, leastValueSpan);
    const double centre = (lowest + highest) / 2;
    const double half = span * (0.5 + valueMarginShare);
    yAxis->setRange(centre - half, centre + half);
}

} // namespace chamber

#include "moc_runplot.cpp"
