// The operator's choice of serial port.
#include "main/main.h"

#include "util/basicutilities.h"

#include <QCheckBox>
#include <QComboBox>

namespace chamber {

void main::portselect_Click()
{
    const int chosen = portselect->currentIndex();
    if (chosen > 0) {
        rs232->ClosePort();
        if (!rs232->OpenPort(portselect->itemText(chosen), QStringLiteral("9600,n,8,1"))) {
            // pumps events: tick and replies may run here
            basicutilities::alert(QStringLiteral("Com port error"), QString(), 2,
                                  rs232->lasterror());
            rs232->ClosePort();
            portready = false;
            portselect->setCurrentIndex(0); // runs this handler again, which then does nothing
            return;
        }
        portready = true;
        cyclerun->setEnabled(true);
    } else if (chosen == 0 && portready) {
        rs232->ClosePort();
        portready = false;
        cyclerun->setEnabled(false);
    }
}

int main::portselect_KeyPress(int KeyAscii)
{
    Q_UNUSED(KeyAscii);
    return 0; // the operator chooses from the list, never types a name
}

} // namespace chamber
