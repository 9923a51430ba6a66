// The rules of an unattended run: the band, the soak gate and the three alarm clocks.
#include "conditions/conditionwatch.h"

#include "run/runfeed.h"
#include "util/numbertext.h"

#include <QElapsedTimer>

#include <cmath>
#include <memory>

namespace chamber {

namespace {

const QString wait = QStringLiteral("Wait");
constexpr double msPerSecond = 1000;
// Readings and setpoints are tenths; this only absorbs the error of their difference in binary.
constexpr double bandSlackC = 1e-6;

ConditionWatch::Clock monotonicClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

QString celsius(double value)
{
    return writenumber(value, 1) + QStringLiteral(" °C");
}

} // namespace

QString alarmKind(const RunFact &fact)
{
    if (fact.kind != RunFact::Event || !fact.text.startsWith(watchEvents::alarmPrefix))
        return {};
    return fact.text.mid(watchEvents::alarmPrefix.size());
}

QString alarmDescription(const RunFact &alarm, double reading)
{
    const QString kind = alarmKind(alarm);
    const RunConditions conditions =
        alarm.setup ? alarm.setup->profile.conditions : RunConditions{};
    QString text = kind;
    if (alarm.point >= 0)
        text += QStringLiteral(" at point %1").arg(alarm.point + 1);
    if (kind == alarmKinds::noReply) {
        if (conditions.silenceLimitS)
            text += QStringLiteral(": the controller has not answered for %1 s")
                        .arg(writenumber(*conditions.silenceLimitS, 0));
        return text;
    }
    if (kind == alarmKinds::notReached && conditions.approachLimitS)
        text += QStringLiteral(" within %1 s").arg(writenumber(*conditions.approachLimitS, 0));
    QStringList values;
    if (!std::isnan(reading))
        values << celsius(reading);
    if (!std::isnan(alarm.setpoint)) {
        QString setpoint = QStringLiteral("setpoint ") + writenumber(alarm.setpoint, 1);
        if (conditions.toleranceC)
            setpoint += QStringLiteral(" ± ") + toleranceText(*conditions.toleranceC);
        values << setpoint;
    }
    if (!values.isEmpty())
        text += QStringLiteral(": ") + values.join(QStringLiteral(", "));
    return text;
}

ConditionWatch::ConditionWatch(RunFeed *feed, Clock clock, QObject *parent)
    : QObject(parent)
    , feed(feed)
    , clock(clock ? std::move(clock) : monotonicClock())
{}

bool ConditionWatch::inBand(double temperature, double setpoint) const
{
    return run.watched && run.conditions.toleranceC &&
           std::abs(temperature - setpoint) <= *run.conditions.toleranceC + bandSlackC;
}

bool ConditionWatch::dwelling() const
{
    return run.phase == wait;
}

void ConditionWatch::take(const RunFact &fact)
{
    if (fact.kind == RunFact::RunBegun) {
        run = {};
        run.watched = fact.setup && fact.setup->profile.conditions.any();
        if (run.watched) {
            run.conditions = fact.setup->profile.conditions;
            run.polling = fact.setup->port != QLatin1String("none");
        }
        run.heardAt = run.approachSince = clock();
    }
    if (fact.kind == RunFact::RunEnded)
        run = {};
    if (!run.watched)
        return; // with no condition set nothing is watched
    const qint64 now = clock();
    const bool wasDwelling = dwelling();
    run.phase = fact.phase;
    run.setpoint = fact.setpoint;
    if (dwelling() != wasDwelling) {
        run.outSince.reset();
        run.deviationAlarmed = false;
        run.soakPaused = false;
        // A dwell's first second holds only the reading that ended its approach: the readings
        // before it, still on the way, are not the soak's.
        if (run.readings > 0) {
            run.readings = 1;
            run.allInBand = inBand(run.lastReading, run.setpoint);
        }
    }
    switch (fact.kind) {
    case RunFact::Reading:
    case RunFact::SingleReading: {
        const bool in = inBand(fact.temperature, run.setpoint);
        run.lastReading = fact.temperature;
        run.heardAt = now;
        run.silenceAlarmed = false;
        ++run.readings;
        run.allInBand = run.allInBand && in;
        if (!dwelling() || !run.conditions.toleranceC)
            break;
        if (in) {
            run.outSince.reset();
            run.deviationAlarmed = false;
        } else if (!run.outSince) {
            run.outSince = now;
        }
        break;
    }
    case RunFact::Event:
        if (fact.text.startsWith(QLatin1String("approaching point "))) {
            run.approachSince = now;
            run.approachAlarmed = false;
        } else if (fact.text == QLatin1String("replies again")) {
            run.heardAt = now; // an echo or a refusal was heard, which no reading shows
            run.silenceAlarmed = false;
        }
        break;
    default:
        break;
    }
}

bool ConditionWatch::second()
{
    if (!run.watched)
        return true;
    bool counts = true;
    if (dwelling() && run.conditions.guaranteedSoak) {
        counts = run.readings > 0 && run.allInBand;
        if (counts == run.soakPaused) {
            run.soakPaused = !counts;
            feed->tellEvent(counts ? watchEvents::soakResumed : watchEvents::soakPaused);
        }
    }
    run.readings = 0;
    run.allInBand = true;

    const qint64 now = clock();
    const auto over = [now](qint64 since, const std::optional<double> &limitS) {
        return limitS && now - since > *limitS * msPerSecond;
    };
    const bool approaching =
        run.phase == QLatin1String("Heat") || run.phase == QLatin1String("Cool");
    if (!run.approachAlarmed && approaching &&
        over(run.approachSince, run.conditions.approachLimitS)) {
        run.approachAlarmed = true;
        raise(alarmKinds::notReached);
    }
    if (!run.deviationAlarmed && dwelling() && run.outSince &&
        over(*run.outSince, run.conditions.deviationDelayS)) {
        run.deviationAlarmed = true;
        raise(alarmKinds::outOfTolerance);
    }
    if (!run.silenceAlarmed && run.polling && over(run.heardAt, run.conditions.silenceLimitS)) {
        run.silenceAlarmed = true;
        raise(alarmKinds::noReply);
    }
    return counts;
}

void ConditionWatch::raise(const QString &kind)
{
    run.ending = run.ending || run.conditions.endOnAlarm;
    feed->tellEvent(watchEvents::alarmPrefix + kind);
}

} // namespace chamber

#include "moc_conditionwatch.cpp"
