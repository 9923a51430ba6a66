// The one place facts are told: stamped with the run's clock and handed to every reader.
#pragma once

#include "run/runfact.h"

#include <QElapsedTimer>
#include <QObject>

namespace chamber {

// Readers connect to fact() and must return quickly: facts are told from inside the 250 ms tick.
// Disk, network and drawing work goes to a thread or to a later turn of the event loop.
class RunFeed : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // fact.when, elapsedSeconds, inRun and setup are filled in here.
    void tell(RunFact fact);
    // An event with the state of things as the last fact told it: for readers that have news of
    // their own (an alarm, its acknowledgement) but no view of the window's fields.
    void tellEvent(const QString &text);
    // A run begun, or one resumed after a restart (setup.resumed).
    void beginRun(const RunSetup &setup, RunFact fact);
    void endRun(RunFact fact); // fact.text: how it ended; nothing when no run is on
    bool running() const { return bool(current); }
    std::shared_ptr<const RunSetup> setup() const { return current; }

signals:
    void fact(const chamber::RunFact &fact);

private:
    std::shared_ptr<const RunSetup> current;
    RunFact last;
    QElapsedTimer clock;
    double elapsedBefore = 0; // seconds: a resumed run's clock goes on from there
};

} // namespace chamber
