// The automatic cycle: start and stop of a run, the 250 ms tick and the profile step machine.
#include "main/main.h"

#include "conditions/conditionwatch.h"
#include "util/numbertext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace chamber {

namespace {

constexpr int ticksPerDwellSecond = 4;
// Longer dwells are capped here (about 68 years) rather than wrapped into a short one.
constexpr double longestDwellSeconds = std::numeric_limits<qint32>::max();

const QColor white(255, 255, 255);
const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);
const QColor green(0, 255, 0);
const QColor grey(128, 128, 128);

void setBackground(QLineEdit *field, const QColor &colour)
{
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, colour);
    field->setPalette(palette);
}

} // namespace

void main::lockProfile(bool locked)
{
    for (QPushButton *button : Command1)
        button->setEnabled(!locked);
    portselect->setEnabled(!locked);
    for (QCheckBox *box : rampenable)
        box->setEnabled(!locked);
    for (int i = 0; i < 4; ++i) {
        setpoints[i]->setReadOnly(locked);
        dwells[i]->setReadOnly(locked);
    }
    cycles[0]->setReadOnly(locked);
}

void main::startcycle()
{
    lockProfile(true);
    // points 3 and 4 take part only with their boxes ticked
    for (int i = 0; i < int(rampenable.size()); ++i) {
        if (!rampenable[i]->isChecked()) {
            setBackground(setpoints[i + 2], grey);
            setBackground(dwells[i + 2], grey);
        }
    }
    ++runsBegun;
    cyclestep = 0;
    dwellcount = 0;
    atSetpoint = false;
    runPoint = -1;
    resumePoint = -1;
    resumeDwell.reset();
}

void main::stopcycle()
{
    // A run that ends because its port was lost can't send the rest setpoint, and the loss is
    // reported on its own. Any other stop tries, so that without a port the operator learns that
    // 25.0 degrees C was not sent.
    const int run = runsBegun;
    if (!losingPort) {
        // pumps events: tick and replies may run here
        transmit(QStringLiteral("settemp"), restSetpointTenths);
    }
    // "Run" ticked again during the pause has begun a new run, which the rest of a stop would
    // leave ticked but dead
    if (runsBegun != run)
        return;
    lockProfile(false);
    cyclestep = -1;
    dwellcount = 0;
    runPoint = -1;
    resumePoint = -1;
    resumeDwell.reset();
    for (int i = 0; i < 4; ++i) {
        setBackground(setpoints[i], white);
        setBackground(dwells[i], white);
    }
    cyclemode->setText(QStringLiteral("Hold"));
    setBackground(cyclemode, white);
    countdown->setText(QStringLiteral("0"));
}

void main::Timer1_Timer()
{
    // The dwell clock runs on every tick, even one that arrives inside another tick's pause.
    ++tickcount;
    if (tickcount == ticksPerDwellSecond) {
        tickcount = 0;
        // a guaranteed soak holds the dwell clock while the reading is out of its band
        const bool counts = watch->second();
        if (dwellcount > 0 && counts) {
            --dwellcount;
            countdown->setText(QString::number(dwellcount));
        }
    }

    // A tick that falls due while an earlier one is inside its pause is dropped: a nested step
    // would repeat the outer one before it has stored its next step.
    if (inTick)
        return;
    if (cyclerun->isChecked() && watch->endsRun()) {
        inTick = true;
        // pumps events: tick and replies may run here
        endByAlarm();
        inTick = false;
        return;
    }
    if (!(autoread->isChecked() || cyclerun->isChecked()) || !portready) {
        notePollingOff();
        return;
    }
    inTick = true;
    notePoll();
    // pumps events: tick and replies may run here
    transmit(QStringLiteral("readtemp"), 0);
    if (cyclerun->isChecked() && resumePoint >= 0) {
        // a resumed run approaches its point again, but only from a temperature read now
        if (resumeHeard) {
            const int point = std::exchange(resumePoint, -1);
            approachStart(point, 2 * point + 1);
        }
    } else if (cyclerun->isChecked() && cyclestep >= 0 && cyclestep <= 7) {
        takeStep(cyclestep);
    }
    // pumps events: tick and replies may run here
    resendSetpoint();
    inTick = false;
}

void main::takeStep(int step)
{
    switch (step) {
    case 0:
        if (dwellcount > 0)
            return;
        setBackground(dwells[1], white);
        if (rampenable[0]->isChecked())
            setBackground(dwells[2], white);
        if (rampenable[1]->isChecked())
            setBackground(dwells[3], white);
        if (readnumber(cycles[0]->text()) > readnumber(cycles[1]->text())) {
            cycles[1]->setText(writenumber(readnumber(cycles[1]->text()) + 1, 0));
            approachStart(0, 1);
        } else {
            const int run = runsBegun;
            runCompleted = true;
            // pumps events: tick and replies may run here
            cyclerun->setChecked(false); // its click handler stops the run as well
            if (runsBegun == run)
                stopcycle();
        }
        return;
    case 2:
    case 4:
    case 6:
        if (dwellcount > 0)
            return;
        setBackground(dwells[step / 2 - 1], white);
        approachStart(step / 2, step + 1);
        return;
    case 1:
    case 3:
    case 5:
    case 7: {
        const int point = step / 2;
        if (!approachTest(point))
            return;
        dwellStart(point);
        int next = step + 1;
        if (step == 3 && !rampenable[0]->isChecked())
            next = 0;
        else if (step == 5 && !rampenable[1]->isChecked())
            next = 0;
        else if (step == 7)
            next = 0;
        cyclestep = next;
        return;
    }
    default:
        return;
    }
}

void main::approachStart(int point, int nextStep)
{
    bool heading = false;
    if (readnumber(setpoints[point]->text()) > readnumber(currenttemp->text())) {
        cyclemode->setText(QStringLiteral("Heat"));
        setBackground(cyclemode, red);
        setBackground(setpoints[point], red);
        heading = true;
    }
    if (readnumber(setpoints[point]->text()) < readnumber(currenttemp->text())) {
        cyclemode->setText(QStringLiteral("Cool"));
        setBackground(cyclemode, blue);
        setBackground(setpoints[point], blue);
        heading = true;
    }
    // Already there: neither "Heat" nor "Cool" would ever see the point reached.
    atSetpoint = !heading;
    runPoint = point;
    // names the point, which the phase and the setpoint alone do not (two points may share both)
    tell(RunFact::Event, QStringLiteral("approaching point %1").arg(point + 1));
    const int run = runsBegun;
    // pumps events: tick and replies may run here
    transmit(QStringLiteral("settemp"), readnumber(setpoints[point]->text()) * 10);
    if (runsBegun == run)
        cyclestep = nextStep; // only after the send, and never into a run begun meanwhile
}

bool main::approachTest(int point) const
{
    if (atSetpoint)
        return true;
    const QString mode = cyclemode->text();
    const double temperature = readnumber(currenttemp->text());
    const double target = readnumber(setpoints[point]->text());
    return (mode == QLatin1String("Heat") && temperature >= target) ||
           (mode == QLatin1String("Cool") && temperature <= target) ||
           watch->inBand(temperature, target); // a run with a tolerance: its band reached
}

void main::dwellStart(int point)
{
    atSetpoint = false;
    setBackground(setpoints[point], white);
    setBackground(dwells[point], green);
    const double seconds = readnumber(tmult->text()) * readnumber(dwells[point]->text());
    // rounded half to even like the frames; clamped first so that no conversion can overflow
    dwellcount = qint64(std::nearbyint(std::clamp(seconds, 0.0, longestDwellSeconds)));
    if (resumeDwell) // what was left of it when the program ended
        dwellcount = *std::exchange(resumeDwell, std::nullopt);
    cyclemode->setText(QStringLiteral("Wait"));
    setBackground(cyclemode, green);
}

} // namespace chamber
