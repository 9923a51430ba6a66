// The lab overview: a read-only window of every station that publishes to the broker, and the
// trend of the chosen one.
#pragma once

#include "broker/brokersettings.h"
#include "overview/stationboard.h"

#include <QSet>
#include <QTimer>
#include <QWidget>

class QAbstractItemModel;
class QCustomPlot;
class QTableView;

namespace chamber {

class BrokerLink;
struct BrokerMessage;
class StationModel;

// Subscribes, read-only, to chamberctl/+/status and chamberctl/+/reading. A row for each station,
// sorted by name: red while an alarm stands (until it is acknowledged at the station), grey and
// "offline" once its last will came. Below, the chosen station's last hour.
class Overview : public QWidget
{
    Q_OBJECT
public:
    // Readings come many a second from a whole lab: rows and the plot are redrawn at this pace.
    static constexpr int refreshMs = 500;

    explicit Overview(const BrokerSettings &settings, QWidget *parent = nullptr);
    ~Overview() override;

    QTableView *stationTable() const { return table; }
    QCustomPlot *trendPlot() const { return plot; }

private:
    void take(const QList<BrokerMessage> &messages);
    void choose(const QString &station);
    void refresh();

    StationBoard board;
    StationModel *model = nullptr;
    QTableView *table = nullptr;
    QCustomPlot *plot = nullptr;
    BrokerLink *link = nullptr;
    QString chosen;
    QSet<int> changedRows; // readings since the last refresh
    bool plotChanged = false;
    QTimer refreshTimer;
};

} // namespace chamber
