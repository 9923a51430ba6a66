// Modbus RTU request frames for the controller and their CRC.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

namespace chamber {

constexpr char slaveAddress = 0x01;
constexpr quint16 temperatureRegister = 100;
constexpr quint16 setpointRegister = 300;

// CRC-16/MODBUS of message: two bytes, low byte first as it goes on the wire.
QByteArray calccrc(const QByteArray &message);

// The same CRC as a number, for checking replies where they lie in the receive buffer.
quint16 crc16(QByteArrayView message);

// The whole frame (CRC included) for the command word mode, compared without regard to case:
// "settemp" writes dataout (tenths of a degree, rounded half to even, low 16 bits) to the
// setpoint register; "readtemp" reads the temperature register. Empty for any other word.
QByteArray frameFor(QStringView mode, double dataout);

// Whether the setpoint register holds dataout as it stands, rounded as frameFor rounds it: the
// controller reads the register as signed, -32768 to 32767 tenths. Anything else would arrive
// wrapped into another temperature.
bool setpointFits(double dataout);

} // namespace chamber
