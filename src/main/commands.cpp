// The operator's commands: "Set Temp", "Read Temp", "Run", the cycle counter and the ramp boxes.
#include "main/main.h"

#include "link/frames.h"
#include "util/basicutilities.h"
#include "util/numbertext.h"

#include <QCheckBox>
#include <QLineEdit>

#include <utility>

namespace chamber {

void main::Command1_Click(int Index)
{
    switch (Index) {
    case 0: {
        const double tenths = readnumber(setpoint->text()) * 10;
        if (!setpointFits(tenths)) {
            // a click taken inside the tick's pause must not hold the tick with its alert
            basicutilities::alertWhenFree(
                QStringLiteral("Setpoint error"),
                QStringLiteral("The controller takes setpoints from -3276.8 to "
                               "3276.7 degrees C only. Nothing was sent."),
                0);
            return;
        }
        transmit(QStringLiteral("settemp"), tenths);
        break;
    }
    case 1:
        transmit(QStringLiteral("readtemp"), 0);
        break;
    default:
        break;
    }
}

void main::cyclerun_Click()
{
    if (cyclerun->isChecked() && resuming) {
        beginResumedRun(*std::exchange(resuming, std::nullopt));
    } else if (cyclerun->isChecked()) {
        cycles[1]->setText(QStringLiteral("0"));
        startcycle();
        beginRun();
    }
    // read again: startcycle may have let the box change
    if (!cyclerun->isChecked()) {
        const RunEnding ending = runEnding(); // why, as it stands before the stop's pause
        stopcycle();
        endRun(ending);
    }
}

void main::cycles_DblClick(int Index)
{
    Q_UNUSED(Index);
    cycles[1]->setText(QStringLiteral("0"));
}

void main::rampenable_Click(int Index)
{
    Q_UNUSED(Index);
    if (!rampenable[0]->isChecked())
        rampenable[1]->setChecked(false); // point 4 only ever runs together with point 3
}

} // namespace chamber
