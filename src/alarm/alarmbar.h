// The alarm bar of the band: the run's alarms, latched until the operator acknowledges them.
#pragma once

#include "band/band.h"
#include "run/runfact.h"

namespace chamber {

class DesktopNotifier;
class RunFeed;

// A red bar with the newest alarm and the count of those not yet acknowledged; a click
// acknowledges them all. Each alarm also sounds the beep once and goes to the desktop's
// notifications. Never a dialog: nothing here may hold the tick.
class AlarmBar : public Notice
{
    Q_OBJECT
public:
    // Tells the acknowledgement to feed, which it also reads.
    explicit AlarmBar(RunFeed *feed, QWidget *parent = nullptr);

    void take(const RunFact &fact);

private:
    void acknowledge();

    RunFeed *feed;
    DesktopNotifier *notifier;
    double lastReading = RunFact::none;
    int unacknowledged = 0;
};

} // namespace chamber
