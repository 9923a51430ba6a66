// Parsing the serial settings text "9600,n,8,1".
#pragma once

#include <QString>

#include <optional>

namespace chamber {

struct PortSettings
{
    enum Parity { None, Even, Odd, Mark, Space };
    enum StopBits { One, OneAndHalf, Two };
    qint32 baud = 9600;
    Parity parity = None;
    int dataBits = 8;
    StopBits stopBits = One;
};

// The line the controller speaks; every port is opened with it, by the scan and by a choice.
inline const QString portSettings = QStringLiteral("9600,n,8,1");

// nullopt for a malformed text: baud, parity n/e/o/m/s, data bits 5 to 8, stop bits 1/1.5/2.
std::optional<PortSettings> parseSettings(const QString &settings);

} // namespace chamber
