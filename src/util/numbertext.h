// Reading and writing the number text of the window's fields.
#pragma once

#include <QString>
#include <QStringView>

namespace chamber {

// The text's leading decimal number: an optional sign, digits with at most one point.
// 0 when the text does not begin with a number; never infinite or NaN (saturates instead).
double readnumber(QStringView text);

// The patterns "0" (decimals 0) and "0.0" (decimals 1): rounded on the value's decimal
// digits (15 significant), halves away from zero, "." as separator, no grouping.
QString writenumber(double value, int decimals);

} // namespace chamber
