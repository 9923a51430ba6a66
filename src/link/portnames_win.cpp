// COM names on Windows: the system opens "COMn" as it stands.
#include "link/portnames.h"

namespace chamber {

QString devicefor(const QString &comname)
{
    return comnumber(comname) > 0 ? comname : QString();
}

} // namespace chamber
