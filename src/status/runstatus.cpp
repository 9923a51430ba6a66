// The status line: each fact of a run makes its one line of where the run is.
#include "status/runstatus.h"

#include "conditions/conditionwatch.h"
#include "util/numbertext.h"

#include <algorithm>
#include <cmath>

namespace chamber {

namespace {

const QString separator = QStringLiteral(" · ");
constexpr qint64 secondsPerMinute = 60;
constexpr qint64 secondsPerHour = 3600;

// "04:12", or "1:04:12" from an hour on.
QString clockText(qint64 seconds)
{
    const QString minutes =
        QStringLiteral("%1:%2")
            .arg(seconds / secondsPerMinute % secondsPerMinute, 2, 10, QLatin1Char('0'))
            .arg(seconds % secondsPerMinute, 2, 10, QLatin1Char('0'));
    return seconds < secondsPerHour
               ? minutes
               : QString::number(seconds / secondsPerHour) + QLatin1Char(':') + minutes;
}

// How a run's end reads: "Run completed at 14:35:02", "Run ended: port lost at 14:35:02".
QString endText(const RunFact &ended)
{
    const QString at = ended.when.toString(QStringLiteral("HH:mm:ss"));
    // the ends that name what was lost rather than what the run did
    if (ended.text == QLatin1String("port lost") || ended.text == QLatin1String("window closed"))
        return QStringLiteral("Run ended: %1 at %2").arg(ended.text, at);
    return QStringLiteral("Run %1 at %2").arg(ended.text, at);
}

} // namespace

RunStatus::RunStatus(QWidget *parent)
    : Notice(QStringLiteral("runStatus"), Notice::Plain, parent)
{}

void RunStatus::take(const RunFact &fact)
{
    QString text;
    switch (fact.kind) {
    case RunFact::RunBegun:
        soakPaused = false;
        lastReading = RunFact::none;
        text = during(fact);
        break;
    case RunFact::RunEnded:
        text = endText(fact);
        break;
    default:
        if (!fact.inRun)
            return;
        if (fact.kind == RunFact::Reading)
            lastReading = fact.temperature;
        else if (fact.kind == RunFact::Event && fact.text == watchEvents::soakPaused)
            soakPaused = true;
        else if (fact.kind == RunFact::Event && fact.text == watchEvents::soakResumed)
            soakPaused = false;
        else if (fact.kind == RunFact::Phase)
            soakPaused = false; // a soak pauses only within its dwell
        text = during(fact);
        break;
    }
    if (text != this->text()) // four readings a second mostly change nothing here
        say(text);
}

QString RunStatus::during(const RunFact &fact) const
{
    QStringList parts;
    const Profile &profile = fact.setup->profile;
    if (!fact.setup->profileName.isEmpty())
        parts << fact.setup->profileName;
    if (fact.cycle > 0)
        parts
            << QStringLiteral("cycle %1 of %2").arg(fact.cycle).arg(writenumber(profile.cycles, 0));
    if (fact.point >= 0)
        parts << QStringLiteral("point %1 of %2")
                     .arg(fact.point + 1)
                     .arg(std::count(profile.usePoints.begin(), profile.usePoints.end(), true));
    if (fact.phase == QLatin1String("Wait"))
        parts << QStringLiteral("Wait, %1 left").arg(clockText(fact.dwellLeft));
    else if ((fact.phase == QLatin1String("Heat") || fact.phase == QLatin1String("Cool")) &&
             !std::isnan(fact.setpoint))
        parts << QStringLiteral("%1 to %2 °C").arg(fact.phase, writenumber(fact.setpoint, 1));
    else
        parts << fact.phase;
    if (soakPaused && !std::isnan(lastReading))
        parts << QStringLiteral("soak paused: %1 °C").arg(writenumber(lastReading, 1));
    else if (soakPaused)
        parts << QStringLiteral("soak paused");
    return parts.join(separator);
}

} // namespace chamber

#include "moc_runstatus.cpp"
