// Where a run stood when the program that ran it ended without ending it (a crash, a power cut, a
// killed program), worked out from its record; and the record to look at after a restart.
#pragma once

#include "run/runfact.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace chamber {

struct RunStanding
{
    QString record; // the record's file
    RunSetup setup; // from its comment lines
    // Why the run cannot be taken up again (its profile cannot be read from the record); empty
    // when it can.
    QString cannotResume;
    qint64 wholeBytes = 0; // the record up to its last whole row; a torn row after it is dropped
    QDateTime lastRow;     // the time of its last whole row
    double lastElapsedS = 0;
    int cycle = 0;            // the cycle counter: the cycle under way, 0 before the first
    int point = -1;           // the point approached or held, 0 to 3; -1 before the first
    QString phase;            // "Heat", "Cool", "Wait" or "Hold"
    bool dwelling = false;    // the point had been reached and its dwell was under way
    double dwellPlannedS = 0; // of the point
    // What is left of the dwell: the planned seconds less those held; with a guaranteed soak,
    // less those held in the band. The whole dwell while the point was still being approached.
    qint64 dwellLeftS = 0;
    double setpointSentC = RunFact::none; // the last setpoint sent to the controller
    int errors = 0;

    // "The run begun 2026-12-06 14:02 on COM1 did not end. Its last row, 16:40:12, was cycle 2
    // of 3, point 3, Wait (240 s of 600 left); the controller was last sent 85.0 °C."
    QString description() const;
    // The event that opens the rows written after the restart: "resumed after restart, gap
    // 754 s", with the time from the last row to now.
    QString resumedEvent(const QDateTime &now) const;
    // The run's clock at now, the time since its last row added.
    double elapsedAt(const QDateTime &now) const;
    // A row of the run's end after the restart, at now, with how it ended and the setpoint the
    // controller was sent last (NaN: the one before).
    RunFact endRow(const QDateTime &now, const QString &ending, double setpointC) const;
};

// The run of the record in text (read from path) when it did not end; nullopt for a record that
// ended, a manual record or one with no run begun, and for text that is not a record (error says
// why).
std::optional<RunStanding> runStanding(const QString &path, const QByteArray &text, QString &error);

// The newest run record in folder that no running program is writing, when its run did not end:
// that run is where the chamber was left. A record that cannot be read says why in error.
std::optional<RunStanding> unendedRun(const QString &folder, QString &error);

} // namespace chamber
