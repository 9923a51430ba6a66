// The stream of facts: the run's clock and the hand-over to the readers.
#include "run/runfeed.h"

#include <QStringList>

namespace chamber {

namespace {

const QString runStarted = QStringLiteral("run started");
const QString setpointSent = QStringLiteral("setpoint sent");
const QString manualSetpoint = QStringLiteral("manual setpoint"); // "Set Temp", outside a run
const QString phaseChange = QStringLiteral("phase change");
const QString newCycle = QStringLiteral("new cycle");
// How a run can end; anything else is an event within it.
const QStringList endings = {
    QStringLiteral("completed"),      QStringLiteral("stopped by the operator"),
    QStringLiteral("port lost"),      QStringLiteral("window closed"),
    QStringLiteral("ended by alarm"), restartEvents::ended,
    restartEvents::abandoned};

} // namespace

QString factEvent(const RunFact &fact)
{
    switch (fact.kind) {
    case RunFact::RunBegun:
        return fact.setup && fact.setup->resumed ? fact.setup->resumed->description : runStarted;
    case RunFact::Reading:
    case RunFact::SingleReading:
    case RunFact::Gap:
        return {};
    case RunFact::SetpointSent:
        return fact.inRun ? setpointSent : manualSetpoint;
    case RunFact::Phase:
        return phaseChange;
    case RunFact::Cycle:
        return newCycle;
    case RunFact::Event:
    case RunFact::RunEnded:
        return fact.text;
    }
    return fact.text;
}

RunFact::Kind factKind(const QString &event)
{
    if (event.isEmpty())
        return RunFact::Reading;
    if (event == runStarted)
        return RunFact::RunBegun;
    if (event == setpointSent || event == manualSetpoint)
        return RunFact::SetpointSent;
    if (event == phaseChange)
        return RunFact::Phase;
    if (event == newCycle)
        return RunFact::Cycle;
    if (endings.contains(event))
        return RunFact::RunEnded;
    return RunFact::Event;
}

void RunFeed::tell(RunFact fact)
{
    if (!fact.when.isValid())
        fact.when = QDateTime::currentDateTime();
    fact.inRun = bool(current);
    fact.setup = current;
    fact.elapsedSeconds = current ? elapsedBefore + clock.elapsed() / 1000.0 : 0;
    last = fact;
    emit this->fact(fact);
}

void RunFeed::tellEvent(const QString &text)
{
    RunFact fact = last;
    fact.kind = RunFact::Event;
    fact.when = {};
    fact.temperature = RunFact::none;
    fact.text = text;
    tell(fact);
}

void RunFeed::beginRun(const RunSetup &setup, RunFact fact)
{
    // "Run" ticked again before a stop came back: the stop never reached its end
    if (current) {
        RunFact ending = fact;
        ending.kind = RunFact::RunEnded;
        ending.text = QStringLiteral("stopped by the operator");
        endRun(ending);
    }
    current = std::make_shared<const RunSetup>(setup);
    clock.start();
    elapsedBefore = setup.resumed ? setup.resumed->elapsedS : 0;
    fact.kind = RunFact::RunBegun;
    // a resumed run begins its rows now, with the run's clock going on from before
    fact.when = setup.resumed ? QDateTime() : setup.started;
    tell(fact);
}

void RunFeed::endRun(RunFact fact)
{
    if (!current)
        return;
    fact.kind = RunFact::RunEnded;
    tell(fact);
    current.reset();
}

} // namespace chamber

#include "moc_runfeed.cpp"
