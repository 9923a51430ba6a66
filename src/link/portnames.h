// Mapping the names COM1 to COM99 to the system's serial devices.
#pragma once

#include <QString>

namespace chamber {

// The device that QSerialPort should open for a name such as "COM3". On Windows the name itself.
// Elsewhere: an entry of that name in the folder $CHAMBERCTL_PORTS, else the n-th existing device
// among /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM* (numbers given by the folder are skipped).
// Empty when no device has that number.
QString devicefor(const QString &comname);

} // namespace chamber
