// Mapping the names COM1 to COM99 to the system's serial devices.
#pragma once

#include <QString>

namespace chamber {

// The device that QSerialPort should open for a name such as "COM3". On Windows the name itself.
// Elsewhere: an entry of that name in the folder $CHAMBERCTL_PORTS, else the n-th existing device
// among /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM* (numbers given by the folder are skipped).
// Empty when no device has that number.
QString devicefor(const QString &comname);

// 1 to 99 for the names "COM1" to "COM99" (upper case, no leading zero, no blank), else 0.
int comnumber(QStringView comname);

#ifndef Q_OS_WIN
// devicefor() with the ports folder (empty: none) and the device folder ("/dev") given.
QString devicefor(const QString &comname, const QString &portsdir, const QString &devroot);
#endif

} // namespace chamber
