// The rules of an unattended run: its tolerance band, the guaranteed soak and the alarm clocks.
#pragma once

#include "run/runfact.h"

#include <QObject>

#include <functional>
#include <optional>

namespace chamber {

class RunFeed;

// The kinds of alarm, each raised only when its condition is set.
namespace alarmKinds {
inline const QString notReached = QStringLiteral("setpoint not reached"); // approach_limit_s
inline const QString outOfTolerance = QStringLiteral("out of tolerance"); // deviation_delay_s
inline const QString noReply = QStringLiteral("no reply");                // silence_limit_s
} // namespace alarmKinds

// The kind of an alarm event ("alarm: no reply" gives "no reply"); empty for any other fact.
QString alarmKind(const RunFact &fact);
// What an alarm event says to the operator, after its time, as "out of tolerance at point 2:
// 81.4 °C, setpoint 85.0 ± 2.0". reading: the last one before it, NaN if none.
QString alarmDescription(const RunFact &alarm, double reading);

// Reads the facts of each run and holds it to the conditions its profile carries. With none set
// it decides nothing: every dwell second counts and no alarm is raised. Its own news (the soak
// paused and resumed, an alarm) goes back to the feed as events, told from second(), never from
// inside another fact.
class ConditionWatch : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // milliseconds from a clock that never goes back

    explicit ConditionWatch(RunFeed *feed, Clock clock = {}, QObject *parent = nullptr);

    void take(const RunFact &fact);

    // The reading lies in the run's band, setpoint ± tolerance; never without a tolerance.
    bool inBand(double temperature, double setpoint) const;

    // The once-a-second step of the tick: runs the alarm clocks and says whether the dwell second
    // just past counts. With a guaranteed soak a second of "Wait" counts only when it had readings
    // and every one of them lay in the band.
    bool second();

    // An alarm was raised in a run that is to end on one: the window ends it as if stopped.
    bool endsRun() const { return run.ending; }

private:
    void raise(const QString &kind);
    bool dwelling() const;

    RunFeed *feed;
    Clock clock;
    // What is known of the run under way; begun afresh with each run.
    struct Run
    {
        bool watched = false; // the run has conditions
        RunConditions conditions;
        bool polling = false; // the run has a port, so the tick polls the controller throughout
        QString phase;
        double setpoint = RunFact::none;
        // the readings of the second under way
        int readings = 0;
        bool allInBand = true;
        double lastReading = RunFact::none;
        bool soakPaused = false;
        // the alarm clocks, in milliseconds of the clock, each raised once until it starts again
        qint64 approachSince = 0;
        std::optional<qint64> outSince; // the reading left the band during a dwell
        qint64 heardAt = 0;
        bool approachAlarmed = false;
        bool deviationAlarmed = false;
        bool silenceAlarmed = false;
        bool ending = false;
    } run;
};

} // namespace chamber
