// The trend as a reader of the facts: each fact drawn where it belongs.
#include "trend/trendplot.h"

namespace chamber {

void TrendPlot::take(const RunFact &fact)
{
    const double when = fact.when.toMSecsSinceEpoch() / 1000.0;
    switch (fact.kind) {
    case RunFact::Reading:
        addReading(when, fact.temperature, true);
        break;
    case RunFact::SingleReading:
        addReading(when, fact.temperature, false);
        break;
    case RunFact::SetpointSent:
        addSetpoint(when, fact.setpoint);
        break;
    case RunFact::Phase:
        setPhase(when, fact.phase);
        break;
    case RunFact::Cycle:
        addCycleMark(when);
        break;
    case RunFact::Gap:
        addGap(when);
        break;
    case RunFact::Event:
        if (fact.text == QLatin1String("no reply"))
            addGap(when); // the line breaks where the controller fell silent
        break;
    case RunFact::RunBegun:
    case RunFact::RunEnded:
        break;
    }
}

} // namespace chamber
