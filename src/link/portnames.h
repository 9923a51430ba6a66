// Mapping the names COM1 to COM99 to the system's serial devices.
#pragma once

#include <QString>

#include <array>

namespace chamber {

// The device behind each of the names COM1 to COM99, by number; empty where there is none.
// Entry 0 stays empty.
using PortMap = std::array<QString, 100>;

// The devices as the system has them now. On Windows each name is its own device. Elsewhere: the
// entries named COMn in the folder portsDir (empty: none), as given, then the existing devices
// among devRoot's ttyS*, ttyUSB*, ttyACM* in that order, taking the numbers the folder left free.
PortMap mapPorts(const QString &portsDir, const QString &devRoot);

// 1 to 99 for the names "COM1" to "COM99" (upper case, no leading zero, no blank), else 0.
int comNumber(QStringView comName);

} // namespace chamber
