// The record of the last trapped error, which the alert's error report shows.
#pragma once

#include <QString>

namespace chamber {

struct ErrorRecord
{
    qint32 number = 0;
    QString description;
};

} // namespace chamber
