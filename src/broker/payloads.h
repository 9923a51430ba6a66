// What the broker is told of a station: its status, its readings, its events and the summary of a
// run, each a JSON object whose keys carry their units.
#pragma once

#include "run/runfact.h"

#include <QJsonObject>

#include <optional>

namespace chamber {

// The name of a run's record, which names the run on the broker too.
QString runName(const RunSetup &setup);

// What a station is doing now, kept from the facts and the port that is open. Its payload is the
// retained status that a dashboard shows.
class StationStatus
{
public:
    explicit StationStatus(const QString &version);

    // True when the fact changed what the status shows: the phase, the cycle, the setpoint, an
    // alarm or the run. A reading changes only the temperature and the error count, which go out
    // with the next status.
    bool take(const RunFact &fact);
    // port: the name of the open port, empty when none is open. True when it changed.
    bool setPort(const QString &port);

    // time: when this was the state; an invalid time gives null
    QJsonObject payload(bool online, const QDateTime &time) const;
    // The broker publishes this for a program that vanished (killed, or its network gone): what
    // it did then is unknown, so everything but the version is null.
    QJsonObject lastWill() const;

private:
    QJsonObject shown() const; // the fields whose change is worth a new status

    QString version;
    QString port;
    QString phase = QStringLiteral("Hold"); // as the window shows it with no run on
    int cycle = 0;
    std::optional<int> cycles; // of the run in progress
    double setpoint = RunFact::none;
    double temperature = RunFact::none;
    int errors = 0;
    QString run;   // empty outside a run
    QString alarm; // empty when none is standing
};

// A reading (polled, or asked for once).
QJsonObject readingPayload(const RunFact &fact);
// A fact that is a row of the record's event column; its run is null outside a run. seq counts the
// program's events from 1: QoS 1 delivers at least once, so an event sent again after a lost
// connection may come twice, with the same seq.
QJsonObject eventPayload(const RunFact &fact, qint64 seq);

} // namespace chamber
