// The lab overview window: the stations' table, the chosen one's trend and the broker's state.
#include "overview/overview.h"

#include "broker/brokerlink.h"
#include "broker/brokernotice.h"
#include "util/numbertext.h"

#include <qcustomplot.h>

#include <QAbstractTableModel>
#include <QCoreApplication>
#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>

namespace chamber {

namespace {

const QStringList columns = {QStringLiteral("Station"),     QStringLiteral("Port"),
                             QStringLiteral("Phase"),       QStringLiteral("Cycle"),
                             QStringLiteral("Temperature"), QStringLiteral("Setpoint"),
                             QStringLiteral("Alarm"),       QStringLiteral("Last seen")};
enum Column { Station, Port, Phase, Cycle, Temperature, Setpoint, Alarm, LastSeen };

const QColor red(255, 0, 0);
const QColor white(255, 255, 255);
const QColor grey(128, 128, 128);
constexpr int plotHeightPx = 220;
constexpr int alarmWidthPx = 160;

QString celsius(double value)
{
    return std::isnan(value) ? QString() : writenumber(value, 1) + QStringLiteral(" °C");
}

} // namespace

class StationModel : public QAbstractTableModel
{
public:
    explicit StationModel(const StationBoard &board, QObject *parent)
        : QAbstractTableModel(parent)
        , board(board)
    {}

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(board.rows().size());
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(columns.size());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return columns.value(section);
        return {};
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const StationRow &row = board.rows().at(index.row());
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return text(row, Column(index.column()));
        case Qt::BackgroundRole:
            return row.alarm.isEmpty() ? QVariant() : QVariant(red);
        case Qt::ForegroundRole:
            if (!row.alarm.isEmpty())
                return white;
            return row.online ? QVariant() : QVariant(grey);
        default:
            return {};
        }
    }

    void rowInserted(int row)
    {
        beginInsertRows({}, row, row);
        endInsertRows();
    }
    void rowChanged(int row) { emit dataChanged(index(row, 0), index(row, columnCount() - 1)); }

private:
    static QString text(const StationRow &row, Column column)
    {
        switch (column) {
        case Station:
            return row.station;
        case Port:
            return row.port;
        case Phase:
            return row.phase;
        case Cycle:
            return row.cycles ? QStringLiteral("%1 of %2").arg(row.cycle).arg(*row.cycles)
                              : QString::number(row.cycle);
        case Temperature:
            return celsius(row.temperature);
        case Setpoint:
            return celsius(row.setpoint);
        case Alarm:
            return row.alarm;
        case LastSeen: {
            const QString seen = row.lastSeen.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
            if (row.online)
                return seen;
            return seen.isEmpty() ? QStringLiteral("offline") : seen + QStringLiteral(", offline");
        }
        }
        return {};
    }

    const StationBoard &board;
};

Overview::Overview(const BrokerSettings &settings, QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("chamberctl lab overview - %1").arg(settings.url));
    resize(900, 600);

    model = new StationModel(board, this);
    table = new QTableView;
    table->setObjectName(QStringLiteral("stations"));
    table->setAccessibleName(QStringLiteral("Stations"));
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->setWordWrap(false);
    table->setColumnWidth(Alarm, alarmWidthPx);
    table->horizontalHeader()->setStretchLastSection(true);
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                choose(current.isValid() ? board.rows().at(current.row()).station : QString());
            });

    plot = new QCustomPlot;
    plot->setObjectName(QStringLiteral("trend"));
    plot->setAccessibleName(QStringLiteral("Trend of the chosen station"));
    plot->setMinimumHeight(plotHeightPx);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::LocalTime);
    ticker->setDateTimeFormat(QStringLiteral("HH:mm"));
    plot->xAxis->setTicker(ticker);
    plot->yAxis->setLabel(QStringLiteral("°C"));
    QCPGraph *setpoints = plot->addGraph();
    setpoints->setName(QStringLiteral("Setpoint"));
    setpoints->setLineStyle(QCPGraph::lsStepLeft);
    setpoints->setPen(QPen(QColor(230, 120, 0), 2)); // as the station's own trend draws them
    QCPGraph *readings = plot->addGraph();
    readings->setName(QStringLiteral("Temperature"));
    readings->setPen(QPen(QColor(0, 0, 0), 1));
    plot->legend->setVisible(true);
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);

    link = new BrokerLink(
        settings, QStringLiteral("chamberctl-overview-%1").arg(QCoreApplication::applicationPid()),
        {}, {QStringLiteral("chamberctl/+/status"), QStringLiteral("chamberctl/+/reading")}, this);
    connect(link, &BrokerLink::received, this, &Overview::take);
    auto *notice = new BrokerNotice(link, settings.url,
                                    QStringLiteral("The overview stays empty until this is put "
                                                   "right."));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(table, 1);
    layout->addWidget(plot);
    layout->addWidget(notice);

    refreshTimer.setInterval(refreshMs);
    connect(&refreshTimer, &QTimer::timeout, this, &Overview::refresh);
    refreshTimer.start();
    choose(QString()); // the last hour, empty until a station is chosen
}

Overview::~Overview() = default;

void Overview::take(const QList<BrokerMessage> &messages)
{
    for (const BrokerMessage &message : messages) {
        const StationBoard::Change change = board.take(message.topic, message.payload);
        if (change.row < 0)
            continue;
        if (change.inserted) {
            model->rowInserted(change.row);
            QSet<int> moved; // the rows below the new one have moved down
            for (const int row : std::as_const(changedRows))
                moved.insert(row >= change.row ? row + 1 : row);
            changedRows = moved;
        }
        const StationRow &row = board.rows().at(change.row);
        if (!change.reading) {
            model->rowChanged(change.row); // a status: shown at once
            continue;
        }
        changedRows.insert(change.row);
        if (row.station == chosen) {
            const TrendPoint &point = board.trend(chosen).back();
            plot->graph(0)->addData(point.when, point.setpoint);
            plot->graph(1)->addData(point.when, point.temperature);
            plotChanged = true;
        }
    }
}

void Overview::choose(const QString &station)
{
    chosen = station;
    plot->xAxis->setLabel(station.isEmpty() ? QStringLiteral("Choose a station above")
                                            : QStringLiteral("%1, the last hour").arg(station));
    QVector<double> when, temperatures, setpoints;
    for (const TrendPoint &point : board.trend(station)) {
        when << point.when;
        temperatures << point.temperature;
        setpoints << point.setpoint;
    }
    plot->graph(0)->setData(when, setpoints, true);
    plot->graph(1)->setData(when, temperatures, true);
    plotChanged = true;
    refresh();
}

void Overview::refresh()
{
    for (const int row : std::as_const(changedRows)) {
        if (row < model->rowCount())
            model->rowChanged(row);
    }
    changedRows.clear();
    if (!plotChanged)
        return;
    plotChanged = false;
    const std::deque<TrendPoint> &points = board.trend(chosen);
    const double end =
        points.empty() ? QDateTime::currentMSecsSinceEpoch() / 1000.0 : points.back().when;
    plot->graph(1)->data()->removeBefore(end - StationBoard::keptSeconds);
    plot->graph(0)->data()->removeBefore(end - StationBoard::keptSeconds);
    plot->xAxis->setRange(end - StationBoard::keptSeconds, end);
    bool found = false;
    QCPRange range = plot->graph(1)->getValueRange(found);
    if (found) {
        bool withSetpoints = false;
        const QCPRange setpointRange = plot->graph(0)->getValueRange(withSetpoints);
        if (withSetpoints)
            range.expand(setpointRange);
        plot->yAxis->setRange(range.lower - 1, range.upper + 1);
    }
    plot->replot();
}

} // namespace chamber

#include "moc_overview.cpp"
