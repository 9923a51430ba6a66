// A run that outlived the program: found at start in the records folder, and resumed, ended at the
// rest setpoint or left, as the operator or the command line chooses.
#include "main/main.h"

#include "record/runrecord.h"
#include "run/runfeed.h"
#include "util/basicutilities.h"
#include "util/numbertext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include <cmath>

namespace chamber {

namespace {

const QString recoveryTitle = QStringLiteral("Recovery error");

} // namespace

void main::offerRecovery(RecoveryChoice choice)
{
    QString error;
    const std::optional<RunStanding> standing = unendedRun(recordsFolder(), error);
    if (!error.isEmpty()) {
        basicutilities::alertWhenFree(
            QStringLiteral("Run record error"),
            QStringLiteral("The last run record could not be read, so whether its run ended is "
                           "not known: %1.")
                .arg(error),
            0);
    }
    if (!standing)
        return;
    // a modal question, so never inside the tick
    basicutilities::whenFree(this, [this, choice, s = *standing] { recover(s, choice); });
}

void main::recover(const RunStanding &standing, RecoveryChoice choice)
{
    if (choice == RecoveryChoice::Resume && !standing.cannotResume.isEmpty())
        choice = RecoveryChoice::Ask; // the operator decides, told why
    if (choice == RecoveryChoice::Ask) {
        RecoveryDialog dialog(standing.description(), standing.cannotResume, this);
        basicutilities::PumpScope pumping;
        // pumps events: tick and replies may run here
        dialog.exec();
        choice = dialog.choice();
    }
    switch (choice) {
    case RecoveryChoice::Resume:
        resumeRun(standing);
        return;
    case RecoveryChoice::End:
        endAfterRestart(standing);
        return;
    case RecoveryChoice::Leave:
        runRecord->endAfterRestart(
            standing.record, standing.wholeBytes,
            standing.endRow(QDateTime::currentDateTime(), restartEvents::abandoned, RunFact::none));
        return;
    case RecoveryChoice::Ask:
        return; // closed without a choice: asked again at the next start
    }
}

bool main::openRecordedPort(const RunStanding &standing)
{
    const QString &port = standing.setup.port;
    const QString cause =
        QStringLiteral("The run begun %1 on %2 was not taken up")
            .arg(standing.setup.started.toString(QStringLiteral("yyyy-MM-dd HH:mm")), port);
    if (portselect->findText(port) <= 0) {
        basicutilities::alertWhenFree(
            recoveryTitle,
            QStringLiteral("%1: %2 was not found by the port scan. Nothing was sent.")
                .arg(cause, port),
            0);
        return false;
    }
    // The same name may lead elsewhere now (adapters plugged in another order): another chamber,
    // perhaps, which must not get this run's setpoints.
    const QString device = rs232->device(port);
    if (!standing.setup.device.isEmpty() && device != standing.setup.device) {
        basicutilities::alertWhenFree(
            recoveryTitle,
            QStringLiteral("%1: %2 now opens %3, not %4 as it did for the run. It was not "
                           "opened and nothing was sent.")
                .arg(cause, port, device.isEmpty() ? QStringLiteral("no device") : device,
                     standing.setup.device),
            0);
        return false;
    }
    if (!portready || portselect->currentText() != port)
        choosePort(port); // opens it, or says why not
    return portready && portselect->currentText() == port;
}

void main::resumeRun(const RunStanding &standing)
{
    if (!openRecordedPort(standing))
        return;
    Profile profile = standing.setup.profile;
    for (double &dwell : profile.dwells)
        dwell /= readnumber(tmult->text()); // the record holds the seconds the run counted
    applyProfile(profile);
    resuming = standing;
    cyclerun->setChecked(true); // its click handler takes the run up again
}

void main::beginResumedRun(const RunStanding &standing)
{
    {
        // the counter goes on where it was: no new cycle begins
        const QSignalBlocker quiet(cycles[1]);
        cycles[1]->setText(QString::number(standing.cycle));
    }
    startcycle();
    RunSetup setup = standing.setup;
    const QDateTime now = QDateTime::currentDateTime();
    setup.resumed = RunSetup::Resumed{standing.record, standing.wholeBytes, standing.elapsedAt(now),
                                      standing.resumedEvent(now)};
    runCompleted = false;
    lastSetpointSent = standing.setpointSentC; // what the controller holds until it is sent again
    feed->beginRun(setup, factNow(RunFact::RunBegun));
    if (standing.point < 0)
        return; // not a point begun yet: the step machine begins the cycle as usual
    resumePoint = standing.point;
    runPoint = standing.point;
    resumeHeard = false;
    if (standing.dwelling)
        resumeDwell = standing.dwellLeftS;
}

void main::endAfterRestart(const RunStanding &standing)
{
    if (!openRecordedPort(standing))
        return;
    const int sent = setpointsSent;
    // pumps events: tick and replies may run here
    transmit(QStringLiteral("settemp"), restSetpointTenths);
    if (setpointsSent == sent)
        return; // not sent, and said so: the run is offered again at the next start
    runRecord->endAfterRestart(
        standing.record, standing.wholeBytes,
        standing.endRow(QDateTime::currentDateTime(), restartEvents::ended, lastSetpointSent));
}

} // namespace chamber
