// The numeric fields: key filtering, normalising on Enter and on leaving, and their events.
#include "main/main.h"

#include "util/basicutilities.h"
#include "util/numbertext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

namespace chamber {

namespace {
constexpr int enterkey = 13;
constexpr double setpointlimit = 175;
} // namespace

void main::normalise(QLineEdit *field, int decimals, bool limited)
{
    field->setText(writenumber(readnumber(field->text()), decimals));
    // the limit acts on the text as formatted, so 175.04 stays "175.0" and 175.05 is cut back
    if (limited && readnumber(field->text()) > setpointlimit)
        field->setText(writenumber(setpointlimit, 1));
}

int main::numericfield_KeyPress(QLineEdit *field, int decimals, bool limited, int KeyAscii)
{
    KeyAscii = basicutilities::numerickey(KeyAscii);
    if (KeyAscii == enterkey) {
        normalise(field, decimals, limited);
        KeyAscii = 0; // the Enter itself never reaches the field
    }
    return KeyAscii;
}

int main::setpoint_KeyPress(int KeyAscii)
{
    return numericfield_KeyPress(setpoint, 1, false, KeyAscii);
}

int main::setpoints_KeyPress(int Index, int KeyAscii)
{
    Q_ASSERT(Index >= 0 && Index < int(setpoints.size()));
    return numericfield_KeyPress(setpoints[Index], 1, true, KeyAscii);
}

int main::dwells_KeyPress(int Index, int KeyAscii)
{
    Q_ASSERT(Index >= 0 && Index < int(dwells.size()));
    return numericfield_KeyPress(dwells[Index], 0, false, KeyAscii);
}

int main::cycles_KeyPress(int Index, int KeyAscii)
{
    Q_ASSERT(Index >= 0 && Index < int(cycles.size()));
    return numericfield_KeyPress(cycles[Index], 0, false, KeyAscii);
}

void main::setpoint_LostFocus()
{
    normalise(setpoint, 1, false);
}

void main::setpoints_LostFocus(int Index)
{
    Q_ASSERT(Index >= 0 && Index < int(setpoints.size()));
    normalise(setpoints[Index], 1, true);
}

void main::dwells_LostFocus(int Index)
{
    Q_ASSERT(Index >= 0 && Index < int(dwells.size()));
    normalise(dwells[Index], 0, false);
}

void main::cycles_LostFocus(int Index)
{
    Q_ASSERT(Index >= 0 && Index < int(cycles.size()));
    normalise(cycles[Index], 0, false);
}

bool main::eventFilter(QObject *watched, QEvent *event)
{
    const auto indexof = [watched](const auto &array) {
        for (int i = 0; i < int(array.size()); ++i)
            if (array[i] == watched)
                return i;
        return -1;
    };
    const int setpointsindex = indexof(setpoints);
    const int dwellsindex = indexof(dwells);
    const int cyclesindex = indexof(cycles);

    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        // Keys that type no character (arrows, Home, End, Tab) keep their ordinary behaviour,
        // and so do the editing shortcuts (copy, paste, undo).
        if (key->text().isEmpty() || key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab
            || key->modifiers().testFlag(Qt::ControlModifier))
            return false;
        const int typed = key->text().at(0).unicode();
        int result = typed;
        if (watched == setpoint)
            result = setpoint_KeyPress(typed);
        else if (setpointsindex >= 0)
            result = setpoints_KeyPress(setpointsindex, typed);
        else if (dwellsindex >= 0)
            result = dwells_KeyPress(dwellsindex, typed);
        else if (cyclesindex >= 0)
            result = cycles_KeyPress(cyclesindex, typed);
        else if (watched == portselect)
            result = portselect_KeyPress(typed);
        return result == 0; // 0 drops the key; the handlers never substitute another one
    }
    case QEvent::FocusOut: {
        // A popup menu or a switch to another application is not leaving the field.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
            return false;
        if (watched == setpoint)
            setpoint_LostFocus();
        else if (setpointsindex >= 0)
            setpoints_LostFocus(setpointsindex);
        else if (dwellsindex >= 0)
            dwells_LostFocus(dwellsindex);
        else if (cyclesindex >= 0)
            cycles_LostFocus(cyclesindex);
        return false;
    }
    case QEvent::MouseButtonDblClick:
        if (cyclesindex >= 0)
            cycles_DblClick(cyclesindex);
        return false;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

} // namespace chamber
