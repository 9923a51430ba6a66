// COM names on Windows: the system opens "COMn" as it stands.
#include "link/portnames.h"

namespace chamber {

PortMap mapPorts(const QString &, const QString &)
{
    PortMap map;
    for (int number = 1; number < int(map.size()); ++number)
        map[number] = QStringLiteral("COM%1").arg(number);
    return map;
}

} // namespace chamber
