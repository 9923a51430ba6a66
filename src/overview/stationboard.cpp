// The stations of the lab, kept from their status and reading messages.
#include "overview/stationboard.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace chamber {

namespace {

double numberOr(const QJsonValue &value, double otherwise)
{
    return value.isDouble() ? value.toDouble() : otherwise;
}

bool before(const QString &a, const QString &b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

} // namespace

int StationBoard::rowOf(const QString &station, bool &inserted)
{
    const auto at = std::lower_bound(
        list.begin(), list.end(), station,
        [](const StationRow &row, const QString &name) { return before(row.station, name); });
    if (at != list.end() && at->station == station)
        return int(at - list.begin());
    const int row = int(at - list.begin());
    StationRow fresh;
    fresh.station = station;
    list.insert(row, fresh);
    inserted = true;
    return row;
}

StationBoard::Change StationBoard::take(const QString &topic, const QByteArray &payload)
{
    const QStringList levels = topic.split(QLatin1Char('/'));
    if (levels.size() != 3 || levels[0] != QLatin1String("chamberctl") || levels[1].isEmpty())
        return {};
    const bool status = levels[2] == QLatin1String("status");
    if (!status && levels[2] != QLatin1String("reading"))
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return {};
    const QJsonObject message = document.object();

    Change change;
    change.row = rowOf(levels[1], change.inserted);
    StationRow &row = list[change.row];
    const QDateTime time =
        QDateTime::fromString(message.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
    if (time.isValid() && (!row.lastSeen.isValid() || time > row.lastSeen))
        row.lastSeen = time;
    row.online = !status || message.value(QLatin1String("online")).toBool();
    if (status && !row.online && !time.isValid())
        return change; // the last will: what it did then is unknown, so the row keeps its last

    row.phase = message.value(QLatin1String("phase")).toString(row.phase);
    row.cycle = message.value(QLatin1String("cycle")).toInt(row.cycle);
    row.temperature = numberOr(message.value(QLatin1String("temperature_c")), row.temperature);
    row.setpoint = numberOr(message.value(QLatin1String("setpoint_c")), row.setpoint);
    if (status) {
        row.port = message.value(QLatin1String("port")).toString();
        const QJsonValue cycles = message.value(QLatin1String("cycles"));
        row.cycles = cycles.isDouble() ? std::optional<int>(cycles.toInt()) : std::nullopt;
        row.alarm = message.value(QLatin1String("alarm")).toString();
        return change;
    }
    if (!time.isValid())
        return change;
    std::deque<TrendPoint> &points = trends[row.station];
    const double when = time.toMSecsSinceEpoch() / 1000.0;
    points.push_back({when, row.temperature, row.setpoint});
    while (points.front().when < when - keptSeconds)
        points.pop_front();
    change.reading = true;
    return change;
}

const std::deque<TrendPoint> &StationBoard::trend(const QString &station) const
{
    static const std::deque<TrendPoint> none;
    const auto it = trends.constFind(station);
    return it == trends.cend() ? none : *it;
}

} // namespace chamber
