// Cutting the controller's replies off the head of the receive buffer.
#include "link/replies.h"

#include "link/frames.h"

namespace chamber {

namespace {

// Whole frame lengths, CRC included; 0 for a function code this program does not decode.
qsizetype frameLengthFor(quint8 function)
{
    switch (function) {
    case 0x03:
        return 7; // 01 03 02 hi lo crc crc
    case 0x06:
        return 8; // echo of the write request
    case 0x83:
    case 0x86:
        return 5; // exception reply: 01 8x code crc crc
    default:
        return 0;
    }
}

bool crcMatches(const QByteArray &rxbuffer, qsizetype start, qsizetype length)
{
    // checked where the frame lies: no copy of the buffer for each check
    const QByteArrayView frame = QByteArrayView(rxbuffer).sliced(start, length);
    const quint16 crc = crc16(frame.first(length - 2));
    // low CRC byte first on the wire
    return quint8(frame[length - 2]) == (crc & 0xFF) && quint8(frame[length - 1]) == (crc >> 8);
}

} // namespace

std::optional<Reply> cutReply(const QByteArray &rxbuffer)
{
    qsizetype from = 0;
    for (;;) {
        const qsizetype p = rxbuffer.indexOf(slaveAddress, from);
        if (p < 0 || p + 1 >= rxbuffer.size())
            return std::nullopt;

        const quint8 function = quint8(rxbuffer[p + 1]);
        const qsizetype length = frameLengthFor(function);
        if (length == 0) {
            // noise or a reply we don't know: looking on from the next byte means it can never
            // hold up the replies behind it; it goes together with the next complete frame
            from = p + 1;
            continue;
        }
        if (rxbuffer.size() - p < length)
            return std::nullopt; // the rest has not arrived yet

        const qsizetype end = p + length;
        const bool crcGood = crcMatches(rxbuffer, p, length);
        if (function == 0x83 || function == 0x86) {
            if (crcGood)
                return Reply{Reply::Exception, function, end,
                             length}; // the controller refused the request
            // Noise such as 01 83 would otherwise swallow the head of the good reply behind it:
            // like an unknown code, look on from the next byte.
            from = p + 1;
            continue;
        }
        if (!crcGood)
            return Reply{Reply::BadCrc, 0, end, length};
        // tenths of a degree, signed: FF 9C is -10.0 degrees, not 6552.4; the echo's value follows
        // its register address
        const qsizetype at = function == 0x06 ? p + 4 : p + 3;
        const quint16 raw = quint16(quint8(rxbuffer[at]) << 8 | quint8(rxbuffer[at + 1]));
        return Reply{function == 0x06 ? Reply::Echo : Reply::Temperature, int(qint16(raw)), end,
                     length};
    }
}

void boundRxBuffer(QByteArray &rxbuffer)
{
    if (rxbuffer.size() > rxBufferLimit)
        rxbuffer.remove(0, rxbuffer.size() - rxBufferLimit);
}

} // namespace chamber
