// The COM name rule that every system's mapping shares.
#include "link/portnames.h"

namespace chamber {

int comNumber(QStringView comName)
{
    if (!comName.startsWith(u"COM"))
        return 0;
    const QStringView digits = comName.mid(3);
    if (digits.isEmpty() || digits.size() > 2 || digits.front() == u'0')
        return 0;
    int number = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return 0;
        number = number * 10 + (c.unicode() - u'0');
    }
    return number;
}

} // namespace chamber
