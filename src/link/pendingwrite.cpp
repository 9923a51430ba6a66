// A setpoint written to the controller, watched until its echo confirms it.
#include "link/pendingwrite.h"

namespace chamber {

namespace {
constexpr int writeRefused = 0x86; // exception reply to function 6
} // namespace

void PendingWrite::sent(int value)
{
    pending = true;
    tenths = value;
    resends = 0;
    heard = false;
}

PendingWrite::Verdict PendingWrite::replied(const Reply &reply)
{
    if (!pending || reply.kind == Reply::BadCrc)
        return {};
    if (reply.kind == Reply::Echo && reply.value == tenths) {
        pending = false;
        return {Verdict::Confirmed, tenths};
    }
    if (reply.kind == Reply::Exception && reply.value == writeRefused) {
        pending = false;
        return {Verdict::Unconfirmed, tenths};
    }
    // An echo of another value belongs to an earlier write; it still shows the line works.
    heard = true;
    return {};
}

PendingWrite::Verdict PendingWrite::afterPoll()
{
    if (!pending || !heard)
        return {};
    if (resends == mostResends) {
        pending = false;
        return {Verdict::Unconfirmed, tenths};
    }
    ++resends;
    heard = false;
    return {Verdict::Resend, tenths};
}

void PendingWrite::clear()
{
    pending = false;
}

} // namespace chamber
