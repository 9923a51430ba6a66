// The JSON of the status, readings, events and run summaries.
#include "broker/payloads.h"

#include "record/runrecord.h"

#include <QJsonValue>

#include <cmath>

namespace chamber {

namespace {

using watchEvents::alarmPrefix;
const QString &alarmAcknowledged = watchEvents::acknowledged;

QJsonValue number(double value)
{
    return std::isnan(value) ? QJsonValue() : QJsonValue(value);
}

QJsonValue text(const QString &value)
{
    return value.isEmpty() ? QJsonValue() : QJsonValue(value);
}

QString runOf(const RunFact &fact)
{
    return fact.inRun && fact.setup ? runName(*fact.setup) : QString();
}

} // namespace

QString runName(const RunSetup &setup)
{
    return recordFileName(setup.started, setup.port);
}

StationStatus::StationStatus(const QString &version)
    : version(version)
{}

bool StationStatus::take(const RunFact &fact)
{
    const QJsonObject before = shown();
    phase = fact.phase;
    cycle = fact.cycle;
    errors = fact.errors;
    if (!std::isnan(fact.setpoint))
        setpoint = fact.setpoint;
    if (fact.kind == RunFact::Reading || fact.kind == RunFact::SingleReading)
        temperature = fact.temperature;
    if (fact.kind == RunFact::RunBegun && fact.setup) {
        run = runName(*fact.setup);
        cycles = int(fact.setup->profile.cycles);
    } else if (fact.kind == RunFact::RunEnded) {
        run.clear();
        cycles.reset();
    } else if (fact.kind == RunFact::Event && fact.text.startsWith(alarmPrefix)) {
        alarm = fact.text.mid(alarmPrefix.size());
    } else if (fact.kind == RunFact::Event && fact.text == alarmAcknowledged) {
        alarm.clear();
    }
    return shown() != before;
}

QJsonObject StationStatus::shown() const
{
    const QJsonObject all = payload(true, {});
    QJsonObject some;
    for (const char *key : {"phase", "cycle", "cycles", "setpoint_c", "run", "alarm"})
        some.insert(QLatin1String(key), all.value(QLatin1String(key)));
    return some;
}

bool StationStatus::setPort(const QString &name)
{
    if (name == port)
        return false;
    port = name;
    return true;
}

QJsonObject StationStatus::payload(bool online, const QDateTime &time) const
{
    return {
        {QStringLiteral("online"), online},
        {QStringLiteral("version"), version},
        {QStringLiteral("port"), text(port)},
        {QStringLiteral("phase"), text(phase)},
        {QStringLiteral("cycle"), cycle},
        {QStringLiteral("cycles"), cycles ? QJsonValue(*cycles) : QJsonValue()},
        {QStringLiteral("setpoint_c"), number(setpoint)},
        {QStringLiteral("temperature_c"), number(temperature)},
        {QStringLiteral("errors"), errors},
        {QStringLiteral("run"), text(run)},
        {QStringLiteral("alarm"), text(alarm)},
        {QStringLiteral("time"), time.isValid() ? QJsonValue(isoLocalTime(time)) : QJsonValue()}};
}

QJsonObject StationStatus::lastWill() const
{
    QJsonObject will = payload(false, {});
    for (auto it = will.begin(); it != will.end(); ++it) {
        if (it.key() != QLatin1String("online") && it.key() != QLatin1String("version"))
            it.value() = QJsonValue();
    }
    return will;
}

QJsonObject readingPayload(const RunFact &fact)
{
    return {{QStringLiteral("time"), isoLocalTime(fact.when)},
            {QStringLiteral("temperature_c"), number(fact.temperature)},
            {QStringLiteral("setpoint_c"), number(fact.setpoint)},
            {QStringLiteral("phase"), text(fact.phase)},
            {QStringLiteral("cycle"), fact.cycle},
            {QStringLiteral("errors"), fact.errors}};
}

QJsonObject eventPayload(const RunFact &fact, qint64 seq)
{
    return {{QStringLiteral("time"), isoLocalTime(fact.when)},
            {QStringLiteral("event"), factEvent(fact)},
            {QStringLiteral("run"), text(runOf(fact))},
            {QStringLiteral("seq"), seq}};
}

} // namespace chamber
