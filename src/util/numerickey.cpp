// The key filter of the numeric fields.
#include "util/numerickey.h"

namespace chamber::basicutilities {

int numerickey(int KeyAscii)
{
    // compared as they stand: a code beyond 16 bits must not pass for the digit it ends with
    if (KeyAscii >= 48 && KeyAscii <= 57)
        return KeyAscii;
    if (KeyAscii == 46 || KeyAscii == 13 || KeyAscii == 8 || KeyAscii == 127)
        return KeyAscii;
    return 0;
}

} // namespace chamber::basicutilities
