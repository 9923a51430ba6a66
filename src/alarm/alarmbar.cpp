// The alarm bar: each alarm event of the run shown, sounded and sent to the desktop.
#include "alarm/alarmbar.h"

#include "alarm/desktopnotifier.h"
#include "conditions/conditionwatch.h"
#include "run/runfeed.h"

#include <QApplication>

namespace chamber {

namespace {
constexpr int barMarginPx = 3;
} // namespace

AlarmBar::AlarmBar(RunFeed *feed, QWidget *parent)
    : Notice(QStringLiteral("alarm"), Notice::Alarm, parent)
    , feed(feed)
    , notifier(new DesktopNotifier(this))
{
    setToolTip(QStringLiteral("Click to acknowledge"));
    setMargin(barMarginPx); // a bar that stands out from the notes around it
    connect(this, &Notice::clicked, this, &AlarmBar::acknowledge);
}

void AlarmBar::take(const RunFact &fact)
{
    if (fact.kind == RunFact::Reading || fact.kind == RunFact::SingleReading)
        lastReading = fact.temperature;
    if (alarmKind(fact).isEmpty())
        return;
    const QString what = alarmDescription(fact, lastReading);
    ++unacknowledged;
    QString text =
        fact.when.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(" Alarm: ") + what;
    if (unacknowledged > 1)
        text += QStringLiteral(" (%1 alarms)").arg(unacknowledged);
    say(text);
    QApplication::beep();
    notifier->notify(QStringLiteral("chamberctl alarm"), what);
}

void AlarmBar::acknowledge()
{
    if (unacknowledged == 0)
        return;
    unacknowledged = 0;
    say(QString());
    feed->tellEvent(watchEvents::acknowledged);
}

} // namespace chamber

#include "moc_alarmbar.cpp"
