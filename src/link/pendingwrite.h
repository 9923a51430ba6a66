// A setpoint written to the controller, watched until its echo confirms it.
#pragma once

#include "link/replies.h"

namespace chamber {

// A write of the setpoint can be lost on the line: a corrupted frame, or a controller that was
// not listening. The controller then holds its old setpoint and a run waits for ever for a point
// it will never approach. Writing a setpoint is idempotent, so one that is not confirmed is
// written again: its echo, carrying the value sent, confirms it. A write is due again only once
// the controller has answered something since it went out, so that a silent controller does not
// use up the resends; the silence is reported on its own.
class PendingWrite
{
public:
    static constexpr int mostResends = 3;

    struct Verdict
    {
        enum Kind {
            None,
            Resend,      // write tenths again now
            Confirmed,   // the echo has come: a setpoint is confirmed
            Unconfirmed, // given up on tenths, refused or never echoed
        } kind = None;
        int tenths = 0;
    };

    // A new setpoint write went out (not a resend): it replaces any write still unconfirmed.
    void sent(int tenths);
    // A reply was decoded: an echo of the value sent confirms it; a refused write (exception to
    // function 6) is given up at once, since the controller would refuse it again.
    Verdict replied(const Reply &reply);
    // Asked right after each poll has gone out and been answered or not: whether the write is to
    // go out again, or is given up after its last resend. A resend is counted as it is asked.
    Verdict afterPoll();
    // The port closed: what another controller, or none, answers says nothing of this write.
    void clear();

private:
    bool pending = false;
    int tenths = 0;
    int resends = 0;
    bool heard = false; // the controller answered since the last send of the write
};

} // namespace chamber
