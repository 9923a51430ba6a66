// What a run achieved, point by point: the figures of its report and of its summary, and the
// verdict, worked out from its facts one at a time.
#pragma once

#include "run/runfact.h"

#include <QJsonObject>
#include <QList>
#include <QStringList>

#include <optional>

namespace chamber {

// One point of one cycle: its approach and its dwell.
struct PointFigures
{
    int cycle = 0; // 1 for the first cycle
    int point = 0; // 0 to 3
    double setpointC = 0;
    QString direction;    // "Heat" or "Cool"; empty when the approach began at the setpoint
    double approachS = 0; // from the approach's start to the setpoint reached, or to the end
    bool reached = false; // the dwell began
    std::optional<double> rateKPerMin; // mean rate of change over the approach
    std::optional<double> overshootC;  // past the setpoint, approach and dwell; none without a way
    double dwellPlannedS = 0;
    double dwellHeldS = 0;
    // The dwell ran out and the run went on (or completed); false when the run ended within it.
    bool dwellComplete = false;
    // With a tolerance: the dwell's time with the last reading in the band, and out of it. Time
    // with no reading known (the controller silent) is neither.
    std::optional<double> inBandS;
    std::optional<double> outOfBandS;
    int dwellReadings = 0;
    std::optional<double> minC, maxC, meanC; // readings during the dwell
    QStringList alarms;                      // the alarm events raised in the approach or dwell
    int silences = 0;                        // "no reply" events in it
    double silentS = 0;                      // time without a reply in it
    int errors = 0;                          // the error count's rise over it
};

class RunAnalysis
{
public:
    enum class Verdict { None, Pass, Fail };

    // Facts in the order they happened; facts outside a run are not its business. A second run in
    // the same stream starts the figures afresh, but the run's own resumption after a restart
    // (its begin with RunSetup::resumed) goes on with them.
    void take(const RunFact &fact);
    // After the last fact of a stream that stopped without the run's end (a record cut by a
    // crash): what was in progress is taken as cut short there. The end of a run does this itself.
    void finish();

    bool begun() const { return bool(setup_); }
    // Empty for a run with no "run started" seen.
    const RunSetup *setup() const { return setup_.get(); }
    QDateTime started() const { return started_; }
    QDateTime lastSeen() const { return lastWhen; } // the end, or the last fact of a cut record
    double durationS() const { return lastElapsed; }
    QString ending() const { return ending_; } // empty: the run did not end (its record was cut)
    bool completed() const;
    const QList<PointFigures> &points() const { return points_; }
    int plannedPoints() const; // cycles times the points used
    int readings() const { return readingCount; }
    std::optional<double> lowestC() const { return lowest; }
    std::optional<double> highestC() const { return highest; }
    int errors() const { return lastErrors - firstErrors; }
    int silences() const { return silenceCount; }
    QStringList alarms() const { return alarms_; }

    std::optional<double> toleranceC() const;
    // With a tolerance: the point's dwell ran out held within the band (with a guaranteed soak,
    // in the band for its planned time) and no alarm was raised in it. None without a tolerance.
    std::optional<bool> passed(const PointFigures &point) const;
    Verdict verdict() const;
    // Why the run failed, one short reason a line; empty unless it failed.
    QStringList failures() const;

    // The profile as run in the text profileText() writes (its dwells in seconds, with its
    // conditions), hashed: SHA-256 in hex.
    QString profileSha256() const;
    // Every figure and the verdict, for other programs: format "chamberctl-run-summary",
    // version 1, units in the key names, no prose.
    QJsonObject summary() const;

private:
    enum class Stage { None, Approach, Dwell };

    void beginPoint(int point, double when, const RunFact &fact);
    void endPoint(double when);
    void decide(bool dwellRanOut); // how the dwell ended last, once that is known
    void dwellBegins(double when);
    // The point cut by a restart approached again: its figures go on.
    void continuePoint(double when);
    void holdUntil(double when); // the time since the last dwell reading, in or out of the band
    void silenceEnds(double when);
    int nextInferredPoint() const;
    bool inBand(double celsius) const;

    std::shared_ptr<const RunSetup> setup_;
    QDateTime started_;
    QDateTime lastWhen;
    double lastElapsed = 0;
    QString ending_;
    QList<PointFigures> points_;
    int readingCount = 0;
    std::optional<double> lowest, highest;
    int firstErrors = 0, lastErrors = 0;
    int silenceCount = 0;
    QStringList alarms_;

    // The point in progress, the last of points_ while stage is not None.
    Stage stage = Stage::None;
    int cycle = 0;
    // Records of 0.2.0 do not name the point an approach is for: it is then inferred, each
    // setpoint sent in a cycle being the next point used. Such an approach is only tentative
    // until its dwell begins, since the rest setpoint of a stop looks just the same.
    bool namedPoints = false;
    bool tentative = false;
    int inferredInCycle = 0;
    int undecided = -1; // the point whose dwell ended with the run's end or its going on unknown
    double pointStart = 0;
    int pointErrors = 0;
    std::optional<double> approachFirst; // (elapsed, celsius) of the approach's first reading
    double approachFirstAt = 0;
    std::optional<double> approachLast;
    double approachLastAt = 0;
    double dwellStart = 0;
    double heldBefore = 0; // of a dwell cut by a restart, before it
    double dwellSum = 0;
    // The point in progress when the program ended without ending the run, until it is
    // approached again (continuing) or another is; -1 when there is none.
    int cutByRestart = -1;
    bool continuing = false;
    std::optional<double> heldSince; // the last dwell reading's time, while it is known
    bool heldInBand = false;
    std::optional<double> silentSince;
    std::optional<double> lastReading;
    double lastReadingAt = 0;
};

} // namespace chamber
