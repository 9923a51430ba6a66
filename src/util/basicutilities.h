// The shared routines alert, delay and numerickey, and the state they share.
#pragma once

#include "util/errorrecord.h"
#include "util/numerickey.h"

#include <QString>

#include <functional>

namespace chamber::basicutilities {

// Shows the modal Z_alert. kind 0: beep, text centred; 1: no beep, text left; 2: beep, the
// report of error (the one the caller's trap has just caught) centred; any other kind shows
// nothing. True when closed with "OK". Returns false at once, showing nothing, while an alert is
// already open.
bool alert(const QString &title, const QString &msgtext, int kind, const ErrorRecord &error = {});

// For news the operator must not miss, such as a lost port: the alert is shown now, or, while
// another alert is open, as soon as that one has been closed, instead of being dropped.
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
