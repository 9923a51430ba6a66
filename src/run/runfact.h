// What the window and its runs do, as one stream of facts that the record, the trend and every
// other reader take in the order they happened.
#pragma once

#include "util/profilefile.h"

#include <QDateTime>
#include <QString>

#include <limits>
#include <memory>
#include <optional>

namespace chamber {

// How a run was set up when "Run" was ticked: what its record's comment lines hold.
struct RunSetup
{
    QString version; // of the program that ran it
    QString port;    // "COM1"; "none" when no port was open
    QString device;  // what the port name opened ("/dev/ttyUSB0"); empty when unknown
    QDateTime started;
    Profile profile;      // dwells in seconds, as the run counts them
    QString profileName;  // the file the profile was loaded from, unchanged since; else empty
    QString operatorName; // empty when not given
    QString testId;       // empty when not given

    // A run taken up again after the program ended without ending it (a crash, a power cut): its
    // record goes on in the same file, and its clock from where that left off.
    struct Resumed
    {
        QString record;      // the record's file
        qint64 wholeBytes;   // its length up to its last whole row; a torn row after it is cut
        double elapsedS;     // the run's clock as it resumes: its last row's, plus the time since
        QString description; // the event that opens its rows: "resumed after restart, gap 754 s"
    };
    std::optional<Resumed> resumed;
};

struct RunFact
{
    static constexpr double none = std::numeric_limits<double>::quiet_NaN();

    enum Kind {
        RunBegun,      // setup holds the run
        Reading,       // a polled reading (Auto or Run): temperature
        SingleReading, // a reading asked for once ("Read Temp"): temperature
        SetpointSent,  // a setpoint went out on the line: setpoint
        Phase,         // the state word changed: phase
        Cycle,         // a new cycle began: cycle
        Event,         // something else worth a row: text
        Gap,           // polling stopped: no line across the time nothing was asked
        RunEnded,      // text: how it ended ("completed", "stopped by the operator", ...)
    };

    Kind kind = Event;
    QDateTime when;
    double elapsedSeconds = 0; // since the run began (a monotonic clock); 0 outside a run
    bool inRun = false;        // between RunBegun and RunEnded, both included
    double temperature = none; // degrees C, for readings
    // The state of things as the fact happened.
    double setpoint = none; // the last setpoint sent, degrees C; NaN before the first
    QString phase;          // "Hold", "Heat", "Cool" or "Wait"
    int cycle = 0;          // the cycle counter
    int errors = 0;         // the error count
    // The profile point approached or held, 0 to 3; -1 outside a run and before its first point.
    // A record names it in its event "approaching point N"; rows in between take it from there.
    int point = -1;
    qint64 dwellLeft = 0; // seconds left of the dwell under way, as the countdown shows them
    QString text;
    std::shared_ptr<const RunSetup> setup; // the run's, while inRun; null outside a run
};

// The events of a run's conditions, as the run record names them; the alarm's kind follows its
// prefix ("alarm: out of tolerance").
namespace watchEvents {
inline const QString soakPaused = QStringLiteral("soak paused");
inline const QString soakResumed = QStringLiteral("soak resumed");
inline const QString alarmPrefix = QStringLiteral("alarm: ");
inline const QString acknowledged = QStringLiteral("alarm acknowledged");
} // namespace watchEvents

// The events of a run that outlived the program that ran it: the first begins the rows written
// after the restart (followed by ", gap N s"); the others end the run there.
namespace restartEvents {
inline const QString resumed = QStringLiteral("resumed after restart");
inline const QString ended = QStringLiteral("ended after restart");
inline const QString abandoned = QStringLiteral("abandoned after restart");
} // namespace restartEvents

// The event column of a fact's row: "" for a reading, "run started" (for a resumed run, its
// description), "setpoint sent" ("manual
// setpoint" outside a run), "phase change", "new cycle", an event's or an end's own text.
QString factEvent(const RunFact &fact);
// The kind of fact a record's event column stands for: the reverse of factEvent().
RunFact::Kind factKind(const QString &event);

} // namespace chamber
