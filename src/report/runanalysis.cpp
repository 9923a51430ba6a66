// The analysis behind a run's report: approaches, dwells, the band and the verdict.
#include "report/runanalysis.h"

#include "record/runrecord.h"

#include <QCryptographicHash>
#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <utility>

namespace chamber {

namespace {

const QString completedEnding = QStringLiteral("completed");
const QString approaching = QStringLiteral("approaching point ");
using watchEvents::alarmPrefix;
// The dwell clock counts whole seconds in 250 ms ticks and lets a dwell end up to 0.75 s early;
// readings come every 250 ms. A dwell this close to its plan was held for it.
constexpr double dwellClockSlackS = 1.0;
// Setpoints travel in tenths of a degree: closer than this is the same setpoint.
constexpr double sameSetpointC = 0.05;
// A reading exactly on the band's edge is in it, whatever the binary fractions make of it.
constexpr double bandEdgeC = 1e-9;

bool isAlarm(const QString &event)
{
    return event.startsWith(alarmPrefix);
}

// x rounded to decimals places, so that the summary says 12.3 rather than 12.300000000000001.
double rounded(double x, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(x * scale) / scale;
}

QJsonValue jsonNumber(const std::optional<double> &x, int decimals)
{
    return x ? QJsonValue(rounded(*x, decimals)) : QJsonValue(QJsonValue::Null);
}

QJsonValue jsonText(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

} // namespace

bool RunAnalysis::inBand(double celsius) const
{
    const auto tolerance = toleranceC();
    return tolerance && std::abs(celsius - points_.last().setpointC) <= *tolerance + bandEdgeC;
}

std::optional<double> RunAnalysis::toleranceC() const
{
    return setup_ ? setup_->profile.conditions.toleranceC : std::nullopt;
}

void RunAnalysis::take(const RunFact &fact)
{
    if (!fact.inRun)
        return;
    if (fact.kind == RunFact::RunBegun && fact.setup && fact.setup->resumed && setup_ &&
        ending_.isEmpty() && setup_->started == fact.setup->started) {
        // the run seen so far, taken up again after a restart: its record's row says so
        RunFact resumed = fact;
        resumed.kind = RunFact::Event;
        resumed.text = fact.setup->resumed->description;
        take(resumed);
        return;
    }
    if (fact.kind == RunFact::RunBegun) {
        *this = RunAnalysis();
        setup_ = fact.setup;
        started_ = fact.when;
        firstErrors = fact.errors;
    }
    if (!setup_ || !ending_.isEmpty())
        return; // a run whose beginning was not seen, or one that has ended
    const double t = fact.elapsedSeconds;
    const double before = lastElapsed; // the last fact's time, before this one
    lastWhen = fact.when;
    lastElapsed = t;
    lastErrors = fact.errors;

    switch (fact.kind) {
    case RunFact::Reading:
    case RunFact::SingleReading: {
        const double celsius = fact.temperature;
        if (std::isnan(celsius))
            break;
        ++readingCount;
        lowest = std::min(lowest.value_or(celsius), celsius);
        highest = std::max(highest.value_or(celsius), celsius);
        if (stage != Stage::None) {
            PointFigures &p = points_.last();
            if (p.direction == QLatin1String("Heat"))
                p.overshootC = std::max(*p.overshootC, celsius - p.setpointC);
            else if (p.direction == QLatin1String("Cool"))
                p.overshootC = std::max(*p.overshootC, p.setpointC - celsius);
            if (stage == Stage::Approach) {
                if (!approachFirst) {
                    approachFirst = celsius;
                    approachFirstAt = t;
                }
                approachLast = celsius;
                approachLastAt = t;
            } else {
                holdUntil(t);
                heldSince = t;
                heldInBand = inBand(celsius);
                ++p.dwellReadings;
                dwellSum += celsius;
                p.minC = std::min(p.minC.value_or(celsius), celsius);
                p.maxC = std::max(p.maxC.value_or(celsius), celsius);
            }
        }
        lastReading = celsius;
        lastReadingAt = t;
        break;
    }
    case RunFact::SetpointSent:
        if (!namedPoints) {
            // A record that does not name its points: each setpoint sent is the next point used
            // in the cycle, unless the run stops after it (below, at "Hold" or the end).
            if (stage == Stage::Dwell) {
                endPoint(t);
            } else if (stage == Stage::Approach) {
                tentative = false; // another setpoint came: the approach was a real one, cut
                endPoint(t);
                decide(false);
            }
            const int next = nextInferredPoint();
            if (next >= 0) {
                beginPoint(next, t, fact);
                tentative = true;
                ++inferredInCycle;
            }
        } else if (stage != Stage::None &&
                   std::abs(fact.setpoint - points_.last().setpointC) > sameSetpointC) {
            endPoint(t); // not the point's own (a resend would be): the rest setpoint of a stop
        }
        break;
    case RunFact::Phase:
        if (fact.phase == QLatin1String("Wait") && stage == Stage::Approach) {
            if (tentative) {
                tentative = false;
                decide(true); // the machine went on from the dwell before
            }
            dwellBegins(t);
        } else if (fact.phase == QLatin1String("Hold") && stage != Stage::None) {
            if (tentative) {
                // it was the rest setpoint of a stop, not an approach
                points_.removeLast();
                stage = Stage::None;
                tentative = false;
                --inferredInCycle;
            } else {
                endPoint(t);
            }
        }
        break;
    case RunFact::Cycle:
        if (stage != Stage::None)
            endPoint(t);
        decide(true);
        cycle = fact.cycle;
        inferredInCycle = 0;
        break;
    case RunFact::Event:
        if (fact.text.startsWith(approaching)) {
            namedPoints = true;
            if (stage != Stage::None)
                endPoint(t);
            // a dwell cut by the restart goes on below if its point is approached again
            decide(cutByRestart < 0);
            const int point = QStringView(fact.text).mid(approaching.size()).toInt() - 1;
            const bool same = cutByRestart >= 0 && cutByRestart == points_.size() - 1 &&
                              points_.last().point == point &&
                              points_.last().cycle == std::max(cycle, fact.cycle);
            cutByRestart = -1;
            if (same) {
                continuePoint(t);
                if (fact.phase == QLatin1String("Wait"))
                    dwellBegins(t);
            } else if (point >= 0 && point < 4) {
                beginPoint(point, t, fact);
                // At its setpoint after a dwell: the state stays "Wait", so no phase change
                // marks this dwell's start; it begins at the next tick.
                if (fact.phase == QLatin1String("Wait"))
                    dwellBegins(t);
            }
        } else if (fact.text == QLatin1String("no reply")) {
            ++silenceCount;
            if (stage != Stage::None)
                ++points_.last().silences;
            if (stage == Stage::Dwell)
                holdUntil(t);
            heldSince.reset(); // the temperature is not known from here
            if (!silentSince)
                silentSince = t;
        } else if (fact.text.startsWith(restartEvents::resumed)) {
            // The program ended at the last row without ending the run, and took it up again
            // here: what was in progress stopped there, and the time between is in no figure.
            if (stage != Stage::None) {
                endPoint(before);
                cutByRestart = int(points_.size()) - 1;
            }
            silentSince.reset();
        } else if (fact.text == QLatin1String("replies again")) {
            silenceEnds(t);
        } else if (isAlarm(fact.text)) {
            alarms_ << fact.text;
            if (stage != Stage::None)
                points_.last().alarms << fact.text;
        }
        break;
    case RunFact::Gap:
        if (stage == Stage::Dwell)
            holdUntil(t);
        heldSince.reset();
        break;
    case RunFact::RunEnded:
        ending_ = fact.text.isEmpty() ? QStringLiteral("ended") : fact.text;
        finish();
        break;
    case RunFact::RunBegun:
        break;
    }
}

void RunAnalysis::finish()
{
    if (stage == Stage::Approach && tentative && !ending_.isEmpty()) {
        points_.removeLast(); // the stop's rest setpoint, seen with the end
        stage = Stage::None;
    }
    if (stage != Stage::None)
        endPoint(lastElapsed);
    silenceEnds(lastElapsed);
    decide(completed());
}

int RunAnalysis::nextInferredPoint() const
{
    int used = 0;
    for (int i = 0; i < 4; ++i) {
        if (!setup_->profile.usePoints[i])
            continue;
        if (used == inferredInCycle)
            return i;
        ++used;
    }
    return -1; // the cycle's points are all begun: a setpoint after them is the rest setpoint
}

void RunAnalysis::beginPoint(int point, double when, const RunFact &fact)
{
    continuing = false;
    PointFigures p;
    p.cycle = std::max(cycle, fact.cycle);
    p.point = point;
    p.setpointC = setup_->profile.setpoints[point];
    if (fact.phase == QLatin1String("Heat") || fact.phase == QLatin1String("Cool")) {
        p.direction = fact.phase;
        p.overshootC = 0.0;
    }
    p.dwellPlannedS = setup_->profile.dwells[point];
    points_ << p;
    stage = Stage::Approach;
    pointStart = when;
    pointErrors = fact.errors;
    approachFirst = lastReading;
    approachFirstAt = lastReadingAt;
    approachLast = lastReading;
    approachLastAt = lastReadingAt;
}

void RunAnalysis::continuePoint(double when)
{
    PointFigures &p = points_.last();
    undecided = -1; // its dwell goes on
    stage = Stage::Approach;
    continuing = true;
    pointStart = when - p.approachS; // the approach so far, less the time the program was gone
    approachFirst.reset();
    approachLast.reset();
}

void RunAnalysis::dwellBegins(double when)
{
    PointFigures &p = points_.last();
    const bool goesOn = std::exchange(continuing, false) && p.reached;
    if (!goesOn) {
        p.reached = true;
        p.approachS = when - pointStart;
        if (approachFirst && approachLastAt > approachFirstAt)
            p.rateKPerMin =
                (*approachLast - *approachFirst) / (approachLastAt - approachFirstAt) * 60;
    }
    stage = Stage::Dwell;
    dwellStart = when;
    heldBefore = goesOn ? p.dwellHeldS : 0;
    if (!goesOn) {
        dwellSum = 0;
        if (toleranceC()) {
            p.inBandS = 0.0;
            p.outOfBandS = 0.0;
        }
    }
    heldSince.reset();
    if (lastReading && !silentSince) {
        // the reading that reached the setpoint holds until the next
        heldSince = when;
        heldInBand = inBand(*lastReading);
    }
}

void RunAnalysis::holdUntil(double when)
{
    if (!heldSince || !toleranceC())
        return;
    PointFigures &p = points_.last();
    const double span = std::max(0.0, when - *heldSince);
    if (heldInBand)
        *p.inBandS += span;
    else
        *p.outOfBandS += span;
    heldSince = when;
}

void RunAnalysis::silenceEnds(double when)
{
    if (!silentSince)
        return;
    if (stage != Stage::None)
        points_.last().silentS += when - std::max(*silentSince, pointStart);
    silentSince.reset();
}

void RunAnalysis::endPoint(double when)
{
    PointFigures &p = points_.last();
    if (stage == Stage::Approach) {
        p.approachS = when - pointStart;
        if (approachFirst && approachLastAt > approachFirstAt)
            p.rateKPerMin =
                (*approachLast - *approachFirst) / (approachLastAt - approachFirstAt) * 60;
    } else if (stage == Stage::Dwell) {
        holdUntil(when);
        p.dwellHeldS = heldBefore + (when - dwellStart);
        if (p.dwellReadings > 0)
            p.meanC = dwellSum / p.dwellReadings;
        undecided = int(points_.size()) - 1;
    }
    if (silentSince) {
        p.silentS += when - std::max(*silentSince, pointStart);
        silentSince = when; // a silence goes on into whatever comes next
    }
    p.errors = std::max(0, lastErrors - pointErrors);
    stage = Stage::None;
    heldSince.reset();
}

void RunAnalysis::decide(bool dwellRanOut)
{
    if (undecided >= 0)
        points_[undecided].dwellComplete = dwellRanOut;
    undecided = -1;
}

bool RunAnalysis::completed() const
{
    return ending_ == completedEnding;
}

int RunAnalysis::plannedPoints() const
{
    if (!setup_)
        return 0;
    const Profile &profile = setup_->profile;
    return int(std::count(profile.usePoints.begin(), profile.usePoints.end(), true)) *
           int(profile.cycles);
}

std::optional<bool> RunAnalysis::passed(const PointFigures &p) const
{
    if (!toleranceC())
        return std::nullopt;
    if (!p.reached || !p.dwellComplete || !p.alarms.isEmpty())
        return false;
    const double inBand = p.inBandS.value_or(0);
    if (setup_->profile.conditions.guaranteedSoak)
        return inBand >= p.dwellPlannedS - dwellClockSlackS;
    // every moment of the dwell known to be in the band, and the dwell its planned length
    return p.outOfBandS.value_or(0) <= 0 && inBand >= p.dwellHeldS - bandEdgeC &&
           p.dwellHeldS >= p.dwellPlannedS - dwellClockSlackS;
}

RunAnalysis::Verdict RunAnalysis::verdict() const
{
    if (!toleranceC())
        return Verdict::None;
    if (!completed())
        return Verdict::Fail;
    for (const PointFigures &p : points_) {
        if (!*passed(p))
            return Verdict::Fail;
    }
    return Verdict::Pass;
}

QStringList RunAnalysis::failures() const
{
    QStringList reasons;
    if (verdict() != Verdict::Fail)
        return reasons;
    if (ending_.isEmpty())
        reasons << QStringLiteral("The run did not end: its record stops at %1.")
                       .arg(lastWhen.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    else if (!completed())
        reasons << QStringLiteral("The run did not complete: %1.").arg(ending_);
    for (const PointFigures &p : points_) {
        if (*passed(p))
            continue;
        QString why;
        if (!p.reached)
            why = QStringLiteral("setpoint not reached");
        else if (!p.dwellComplete)
            why = QStringLiteral("dwell cut short after %1 s").arg(p.dwellHeldS, 0, 'f', 1);
        else if (!p.alarms.isEmpty())
            why = p.alarms.join(QStringLiteral(", "));
        else if (p.outOfBandS.value_or(0) > 0)
            why = QStringLiteral("%1 s out of the band").arg(*p.outOfBandS, 0, 'f', 1);
        else
            why = QStringLiteral("%1 s of the dwell without a reading in the band")
                      .arg(p.dwellHeldS - p.inBandS.value_or(0), 0, 'f', 1);
        reasons << QStringLiteral("Cycle %1, point %2: %3.").arg(p.cycle).arg(p.point + 1).arg(why);
    }
    return reasons;
}

QString RunAnalysis::profileSha256() const
{
    if (!setup_)
        return {};
    return QString::fromLatin1(
        QCryptographicHash::hash(profileText(setup_->profile), QCryptographicHash::Sha256).toHex());
}

QJsonObject RunAnalysis::summary() const
{
    QJsonObject run;
    run.insert(QStringLiteral("format"), QStringLiteral("chamberctl-run-summary"));
    run.insert(QStringLiteral("version"), 1);
    const RunSetup setup = setup_ ? *setup_ : RunSetup();
    run.insert(QStringLiteral("program_version"), jsonText(setup.version));
    run.insert(QStringLiteral("port"), jsonText(setup.port));
    run.insert(QStringLiteral("device"), jsonText(setup.device));
    run.insert(QStringLiteral("operator"), jsonText(setup.operatorName));
    run.insert(QStringLiteral("test_id"), jsonText(setup.testId));

    QJsonObject profile;
    profile.insert(QStringLiteral("file"), jsonText(setup.profileName));
    profile.insert(QStringLiteral("sha256"), jsonText(profileSha256()));
    QJsonArray profilePoints;
    for (int i = 0; i < 4; ++i)
        profilePoints.append(QJsonObject{{QStringLiteral("setpoint_c"), setup.profile.setpoints[i]},
                                         {QStringLiteral("dwell_s"), setup.profile.dwells[i]},
                                         {QStringLiteral("used"), setup.profile.usePoints[i]}});
    profile.insert(QStringLiteral("points"), profilePoints);
    profile.insert(QStringLiteral("cycles"), setup.profile.cycles);
    profile.insert(QStringLiteral("conditions"), conditionsObject(setup.profile.conditions));
    run.insert(QStringLiteral("profile"), profile);

    run.insert(QStringLiteral("started"),
               started_.isValid() ? QJsonValue(isoLocalTime(started_)) : QJsonValue());
    run.insert(QStringLiteral("ended"),
               ending_.isEmpty() ? QJsonValue() : QJsonValue(isoLocalTime(lastWhen)));
    run.insert(QStringLiteral("last_row"),
               lastWhen.isValid() ? QJsonValue(isoLocalTime(lastWhen)) : QJsonValue());
    run.insert(QStringLiteral("duration_s"), rounded(lastElapsed, 3));
    run.insert(QStringLiteral("ending"), jsonText(ending_));
    run.insert(QStringLiteral("completed"), completed());
    run.insert(QStringLiteral("tolerance_c"), jsonNumber(toleranceC(), 3));
    static const char *const verdicts[] = {"none", "pass", "fail"};
    run.insert(QStringLiteral("verdict"), QLatin1String(verdicts[int(verdict())]));
    run.insert(QStringLiteral("points_planned"), plannedPoints());
    run.insert(QStringLiteral("points_run"), int(points_.size()));
    run.insert(QStringLiteral("readings"), readingCount);
    run.insert(QStringLiteral("min_c"), jsonNumber(lowest, 1));
    run.insert(QStringLiteral("max_c"), jsonNumber(highest, 1));
    run.insert(QStringLiteral("errors"), errors());
    run.insert(QStringLiteral("silences"), silenceCount);
    run.insert(QStringLiteral("alarms"), QJsonArray::fromStringList(alarms_));

    QJsonArray rows;
    for (const PointFigures &p : points_) {
        const auto result = passed(p);
        rows.append(QJsonObject{
            {QStringLiteral("cycle"), p.cycle},
            {QStringLiteral("point"), p.point + 1},
            {QStringLiteral("setpoint_c"), rounded(p.setpointC, 1)},
            {QStringLiteral("direction"), jsonText(p.direction.toLower())},
            {QStringLiteral("reached"), p.reached},
            {QStringLiteral("approach_s"), rounded(p.approachS, 3)},
            {QStringLiteral("rate_k_per_min"), jsonNumber(p.rateKPerMin, 3)},
            {QStringLiteral("overshoot_c"), jsonNumber(p.overshootC, 1)},
            {QStringLiteral("dwell_planned_s"), p.dwellPlannedS},
            {QStringLiteral("dwell_held_s"), rounded(p.dwellHeldS, 3)},
            {QStringLiteral("dwell_complete"), p.dwellComplete},
            {QStringLiteral("in_band_s"), jsonNumber(p.inBandS, 3)},
            {QStringLiteral("out_of_band_s"), jsonNumber(p.outOfBandS, 3)},
            {QStringLiteral("dwell_readings"), p.dwellReadings},
            {QStringLiteral("min_c"), jsonNumber(p.minC, 1)},
            {QStringLiteral("max_c"), jsonNumber(p.maxC, 1)},
            {QStringLiteral("mean_c"), jsonNumber(p.meanC, 2)},
            {QStringLiteral("alarms"), QJsonArray::fromStringList(p.alarms)},
            {QStringLiteral("silences"), p.silences},
            {QStringLiteral("silent_s"), rounded(p.silentS, 3)},
            {QStringLiteral("errors"), p.errors},
            {QStringLiteral("passed"), result ? QJsonValue(*result) : QJsonValue()},
        });
    }
    run.insert(QStringLiteral("points"), rows);
    return run;
}

} // namespace chamber
