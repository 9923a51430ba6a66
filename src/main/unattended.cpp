// Unattended runs for the window: the watch over a run's conditions, the alarm bar and the status
// line that read its facts, the dialog that sets the conditions, and the end of a run by alarm.
#include "main/main.h"

#include "alarm/alarmbar.h"
#include "band/band.h"
#include "conditions/conditionwatch.h"
#include "dialogs/conditionsdialog.h"
#include "run/runfeed.h"
#include "status/runstatus.h"
#include "util/basicutilities.h"

#include <QCheckBox>

namespace chamber {

void main::createConditions()
{
    watch = new ConditionWatch(feed, {}, this);
    connect(feed, &RunFeed::fact, watch, &ConditionWatch::take);
    auto *alarms = new AlarmBar(feed);
    band->addLine(alarms);
    connect(feed, &RunFeed::fact, alarms, &AlarmBar::take);
    auto *status = new RunStatus;
    band->addLine(status);
    connect(feed, &RunFeed::fact, status, &RunStatus::take);
}

void main::editConditions()
{
    if (profileLocked())
        return;
    ConditionsDialog dialog(runConditions, this);
    {
        basicutilities::PumpScope pumping;
        // pumps events: tick and replies may run here
        if (dialog.exec() != QDialog::Accepted)
            return;
    }
    if (!profileLocked()) // they travel with the profile, which a run holds as it was
        runConditions = dialog.conditions();
}

void main::endByAlarm()
{
    alarmEnding = true;
    // pumps events: tick and replies may run here
    cyclerun->setChecked(false); // its click handler ends the run as the operator's clearing does
    alarmEnding = false;
}

} // namespace chamber
