// The status line of the band: where the run is, and how the last one ended.
#pragma once

#include "band/band.h"
#include "run/runfact.h"

namespace chamber {

// "heat-soak.profile · cycle 2 of 3 · point 2 of 4 · Wait, 04:12 left" while a run goes on, then
// "Run completed at 14:35:02" (or how else it ended) until the next run begins. Hidden before
// the first run.
class RunStatus : public Notice
{
    Q_OBJECT
public:
    explicit RunStatus(QWidget *parent = nullptr);

    void take(const RunFact &fact);

private:
    QString during(const RunFact &fact) const;

    double lastReading = RunFact::none;
    bool soakPaused = false;
};

} // namespace chamber
