// The shared routines alert, delay and numerickey, and the state they share.
#pragma once

#include "util/errorrecord.h"
#include "util/numerickey.h"

#include <QObject>
#include <QString>

#include <functional>

namespace chamber::basicutilities {

// Shows the modal Z_alert. kind 0: beep, text centred; 1: no beep, text left; 2: beep, the
// report of error (the one the caller's trap has just caught) centred; any other kind shows
// nothing. True when closed with "OK". Returns false at once, showing nothing, while an alert is
// already open.
bool alert(const QString &title, const QString &msgtext, int kind, const ErrorRecord &error = {});

// Runs action now when no place that processes events is on the stack (so no tick is held) and no
// alert is open; otherwise from the event loop as soon as both hold, in the order asked. Anything
// that opens a modal loop and may be asked for inside a pause goes through here: a modal loop
// opened inside the tick's pause would hold the tick, and with it a run, until it is closed.
// Dropped when context is destroyed first.
void whenFree(QObject *context, std::function<void()> action);

// For news the operator must not miss, such as a lost port or a record that cannot be written:
// the alert is shown through whenFree() instead of being dropped or holding the tick.
void alertWhenFree(const QString &title, const QString &msgtext, int kind,
                   const ErrorRecord &error = {});

// Milliseconds from a clock that never goes back.
using MonotonicClock = std::function<qint64()>;

// Processes window events until hundredths / 100 seconds have passed on clock (a monotonic clock
// by default), at least once; 0 returns at once without processing events.
void delay(int hundredths, const MonotonicClock &clock = {});

// Places that process window events (delay, the reply decoder, the modal alert, the port scan)
// count themselves here, so that closing the window inside one of them can end the program at once.
class PumpScope
{
public:
    PumpScope();
    ~PumpScope();
    PumpScope(const PumpScope &) = delete;
    PumpScope &operator=(const PumpScope &) = delete;
};
int pumpDepth();

} // namespace chamber::basicutilities
