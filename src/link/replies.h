// Cutting the controller's replies off the head of the receive buffer.
#pragma once

#include <QByteArray>

#include <optional>

namespace chamber {

// Received bytes beyond this are dropped oldest first, so a babbling line can't grow memory.
constexpr qsizetype rxBufferLimit = 256;

struct Reply
{
    enum Kind { Temperature, Echo, Exception, BadCrc } kind;
    // Temperature: the register as 16-bit two's complement, in tenths; Echo: the value written,
    // likewise; Exception: the function refused, 0x83 (a read) or 0x86 (a write).
    int value;
    qsizetype length;      // bytes to remove from the head: the reply and everything before it
    qsizetype frameLength; // the reply's own bytes, which end those
};

// The first complete reply in rxbuffer, or nullopt while none is complete. A byte 01 that is
// followed by no known function code, or by an exception code whose frame fails its CRC, is
// skipped, so noise can never stall decoding.
std::optional<Reply> cutReply(const QByteArray &rxbuffer);

// Drops the oldest bytes of rxbuffer beyond rxBufferLimit.
void boundRxBuffer(QByteArray &rxbuffer);

} // namespace chamber
