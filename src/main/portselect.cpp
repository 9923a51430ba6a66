// The operator's choice of serial port.
#include "main/main.h"

#include "link/portsettings.h"
#include "util/basicutilities.h"

#include <QCheckBox>
#include <QComboBox>

namespace chamber {

void main::portselect_Click()
{
    notePollingOff(); // whatever comes next is another line, or none
    const int chosen = portselect->currentIndex();
    pendingWrite.clear(); // another port's controller, or none, can't confirm it
    if (chosen > 0) {
        rs232->ClosePort();
        if (!rs232->OpenPort(portselect->itemText(chosen), portSettings)) {
            dropPort(rs232->lasterror()); // "Run" stays as it was
            return;
        }
        portready = true;
        cyclerun->setEnabled(true);
        emit portChanged(portselect->itemText(chosen));
    } else if (chosen == 0 && portready) {
        rs232->ClosePort();
        portready = false;
        cyclerun->setEnabled(false);
        emit portChanged(QString());
    }
}

void main::dropPort(const ErrorRecord &error)
{
    rs232->ClosePort();
    portready = false;
    emit portChanged(QString());
    if (cyclerun->isChecked()) {
        losingPort = true;
        cyclerun->setChecked(false); // ends the run through its click handler
        losingPort = false;
    }
    portselect->setCurrentIndex(0); // runs portselect_Click again, which then does nothing
    // pumps events: tick and replies may run here
    basicutilities::alertWhenFree(QStringLiteral("Com port error"), QString(), 2, error);
}

int main::portselect_KeyPress(int KeyAscii)
{
    Q_UNUSED(KeyAscii);
    return 0; // the operator chooses from the list, never types a name
}

} // namespace chamber
