// The key filter of the numeric fields, apart so that it needs nothing but the language.
#pragma once

namespace chamber::basicutilities {

// KeyAscii when it may be typed into a numeric field (digits, ".", Enter, Backspace, 127), else 0.
int numerickey(int KeyAscii);

} // namespace chamber::basicutilities
