// Modbus RTU request frames for the controller and their CRC.
#include "link/frames.h"

#include <array>
#include <cmath>
#include <string_view>

namespace chamber {

namespace {

constexpr char functionReadRegisters = 0x03;
constexpr char functionWriteRegister = 0x06;

// ASCII letters only: a Unicode case fold would let words such as "\u017Fettemp" (long s)
// pass for "settemp"
bool sameWord(QStringView mode, std::string_view word)
{
    if (std::size_t(mode.size()) != word.size())
        return false;
    for (qsizetype i = 0; i < mode.size(); ++i) {
        char16_t c = mode[i].unicode();
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
        if (c != char16_t(word[std::size_t(i)]))
            return false;
    }
    return true;
}

void appendRegister(QByteArray &frame, quint16 value)
{
    // Modbus sends register numbers and values high byte first
    frame.append(char(value >> 8));
    frame.append(char(value & 0xFF));
}

// The low 16 bits of the whole number v in two's complement, for any finite v: a cast of an
// out-of-range double to an integer would be undefined.
quint16 low16Bits(double v)
{
    double r = std::fmod(v, 65536.0); // exact, and in (-65536, 65536)
    if (r < 0)
        r += 65536.0;
    return quint16(unsigned(r));
}

// The eight shifts of the reflected polynomial A001 for every value of the low byte, worked out
// once by the compiler: a byte then costs one lookup instead of eight tests.
constexpr std::array<quint16, 256> crcTable = [] {
    std::array<quint16, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        unsigned crc = value;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        table[value] = quint16(crc);
    }
    return table;
}();

} // namespace

quint16 crc16(QByteArrayView message)
{
    quint16 crc = 0xFFFF;
    for (const char byte : message)
        crc = quint16((crc >> 8) ^ crcTable[(crc ^ quint8(byte)) & 0xFF]);
    return crc;
}

QByteArray calccrc(const QByteArray &message)
{
    const quint16 crc = crc16(message);
    // low CRC byte goes first on the wire, unlike register values
    QByteArray result;
    result.append(char(crc & 0xFF));
    result.append(char(crc >> 8));
    return result;
}

QByteArray frameFor(QStringView mode, double dataout)
{
    QByteArray frame;
    frame.append(slaveAddress);
    if (sameWord(mode, "settemp")) {
        // a NaN or infinite setpoint has no register value: sending nothing beats sending 0
        if (!std::isfinite(dataout))
            return {};
        // nearbyint in the default rounding mode takes a half to the even neighbour
        frame.append(functionWriteRegister);
        appendRegister(frame, setpointRegister);
        appendRegister(frame, low16Bits(std::nearbyint(dataout)));
    } else if (sameWord(mode, "readtemp")) {
        frame.append(functionReadRegisters);
        appendRegister(frame, temperatureRegister);
        appendRegister(frame, 1); // one register
    } else {
        return {};
    }
    frame.append(calccrc(frame));
    return frame;
}

bool setpointFits(double dataout)
{
    // false for NaN as well, since every comparison with it fails
    const double sent = std::nearbyint(dataout);
    return sent >= -32768 && sent <= 32767;
}

} // namespace chamber
