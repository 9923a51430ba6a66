// The lab as the broker tells it: a row for each station from its retained status, and the last
// hour of its readings.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <deque>
#include <limits>
#include <optional>

namespace chamber {

struct StationRow
{
    QString station;
    QString port;  // empty: none open
    QString phase; // "Hold", "Heat", "Cool", "Wait"
    int cycle = 0;
    std::optional<int> cycles; // while a run is on
    double temperature = std::numeric_limits<double>::quiet_NaN();
    double setpoint = std::numeric_limits<double>::quiet_NaN();
    QString alarm;      // empty while none stands
    QDateTime lastSeen; // the time of its latest news; invalid before any
    bool online = false;
};

struct TrendPoint
{
    double when; // seconds since the epoch
    double temperature;
    double setpoint; // NaN before the first
};

class StationBoard
{
public:
    static constexpr double keptSeconds = 60 * 60;

    struct Change
    {
        int row = -1; // -1: nothing changed
        bool inserted = false;
        bool reading = false; // a point was added to the station's trend
    };

    // A message of chamberctl/<station>/status or chamberctl/<station>/reading. Anything else,
    // or a payload that is not a JSON object, changes nothing.
    Change take(const QString &topic, const QByteArray &payload);

    const QList<StationRow> &rows() const { return list; } // sorted by station
    // The station's readings of the last hour, oldest first.
    const std::deque<TrendPoint> &trend(const QString &station) const;

private:
    int rowOf(const QString &station, bool &inserted);

    QList<StationRow> list;
    QHash<QString, std::deque<TrendPoint>> trends;
};

} // namespace chamber
