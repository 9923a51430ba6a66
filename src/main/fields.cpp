// The numeric fields: key filtering, normalising on Enter and on leaving, and their events.
#include "main/main.h"

#include "util/basicutilities.h"
#include "util/numbertext.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace chamber {

namespace {
constexpr int enterKey = 13;
constexpr double setpointLimit = 175;
} // namespace

void main::normalise(QLineEdit *field, int decimals, bool limited)
{
    field->setText(writenumber(readnumber(field->text()), decimals));
    // the limit acts on the text as formatted, so 175.04 stays "175.0" and 175.05 is cut back
    if (limited && readnumber(field->text()) > setpointLimit)
        field->setText(writenumber(setpointLimit, 1));
}

int main::numericFieldKeyPress(QLineEdit *field, int decimals, bool limited, int KeyAscii)
{
    KeyAscii = basicutilities::numerickey(KeyAscii);
    if (KeyAscii == enterKey) {
        normalise(field, decimals, limited);
        KeyAscii = 0; // the Enter itself never reaches the field
    }
    return KeyAscii;
}

int main::setpoint_KeyPress(int KeyAscii)
{
    return numericFieldKeyPress(setpoint, 1, false, KeyAscii);
}

int main::setpoints_KeyPress(int Index, int KeyAscii)
{
    Q_ASSERT(Index >= 0 && Index < int(setpoints.size()));
    return numericFieldKeyPress(setpoints[Index], 1, true, KeyAscii);
}

int main::dwells_KeyPress(int Index, int KeyAscii)
{
    Q_ASSERT(Index >= 0 && Index < int(dwells.size()));
    return numericFieldKeyPress(dwells[Index], 0, false, KeyAscii);
}

int main::cycles_KeyPress(int Index, int KeyAscii)
{
    Q_ASSERT(Index >= 0 && Index < int(cycles.size()));
    return numericFieldKeyPress(cycles[Index], 0, false, KeyAscii);
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

namespace {

// Copy, cut, paste, undo and select all keep their ordinary behaviour in a numeric field; pasted
// text is tidied at the next Enter or when the field is left.
bool isEditingShortcut(const QKeyEvent *key)
{
    for (const QKeySequence::StandardKey shortcut :
         {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste, QKeySequence::Undo,
          QKeySequence::SelectAll})
        if (key->matches(shortcut))
            return true;
    return false;
}

bool isTab(const QKeyEvent *key)
{
    return key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
}

} // namespace

void main::registerNumericFields()
{
    const auto add = [this](QLineEdit *edit, NumericField field) {
        numericFields.insert(edit, std::move(field));
        edit->installEventFilter(this);
    };
    add(setpoint,
        {[this](int key) { return setpoint_KeyPress(key); }, [this] { setpoint_LostFocus(); }, {}});
    for (int i = 0; i < int(setpoints.size()); ++i)
        add(setpoints[i], {[this, i](int key) { return setpoints_KeyPress(i, key); },
                           [this, i] { setpoints_LostFocus(i); },
                           {}});
    for (int i = 0; i < int(dwells.size()); ++i)
        add(dwells[i], {[this, i](int key) { return dwells_KeyPress(i, key); },
                        [this, i] { dwells_LostFocus(i); },
                        {}});
    for (int i = 0; i < int(cycles.size()); ++i)
        add(cycles[i], {[this, i](int key) { return cycles_KeyPress(i, key); },
                        [this, i] { cycles_LostFocus(i); }, [this, i] { cycles_DblClick(i); }});
}

bool main::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == portselect || watched == portselect->view())
        return portselectFilter(watched, event);
    const auto field = numericFields.constFind(watched);
    if (field == numericFields.cend())
        return QWidget::eventFilter(watched, event);

    // every character of the text must pass the field's key handler; 0 drops it
    const auto passes = [&field](const QString &text) {
        for (const QChar c : text)
            if (field->keyPress(c.unicode()) == 0)
                return false;
        return true;
    };

    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        // Keys that type nothing (arrows, Home, End) and Tab move as usual. Whatever types a
        // character goes through the filter, whatever the modifiers: AltGr arrives as Ctrl+Alt
        // on Windows, and a field would take its "@" or "{".
        if (key->text().isEmpty() || isTab(key) || isEditingShortcut(key))
            return false;
        return !passes(key->text());
    }
    case QEvent::InputMethod: {
        // text committed by an input method obeys the same filter as typed text
        auto *input = static_cast<QInputMethodEvent *>(event);
        QString kept;
        for (const QChar c : input->commitString())
            if (field->keyPress(c.unicode()) != 0)
                kept += c;
        if (kept == input->commitString())
            return false;
        QInputMethodEvent filtered(input->preeditString(), input->attributes());
        filtered.setCommitString(kept, input->replacementStart(), input->replacementLength());
        QCoreApplication::sendEvent(watched, &filtered); // comes back through here and passes
        return true;
    }
    case QEvent::FocusOut: {
        // A popup menu or a switch to another application is not leaving the field.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            field->lostFocus();
        return false;
    }
    case QEvent::MouseButtonDblClick:
        if (field->dblClick)
            field->dblClick();
        return false;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

bool main::portselectFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (watched == portselect->view()) {
            // In the open list the arrow keys move and Enter or Escape end it; a typed character
            // would jump to a matching port, which Enter would then open.
            const bool ends = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                              key->key() == Qt::Key_Escape;
            return !key->text().isEmpty() && !ends &&
                   portselect_KeyPress(key->text()[0].unicode()) == 0;
        }
        if (isTab(key))
            return false;
        if (!key->text().isEmpty())
            return portselect_KeyPress(key->text()[0].unicode()) == 0;
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
            // On the closed list these would open the next port at once; the list opens
            // instead, where the arrows move and Enter chooses. Alt+arrow opens it as usual.
            if (!key->modifiers().testFlag(Qt::AltModifier))
                portselect->showPopup();
            return !key->modifiers().testFlag(Qt::AltModifier);
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            return false;
        }
    }
    case QEvent::Wheel:
        // a wheel turned over the list while scrolling the window must never change the port
        return watched == portselect;
    default:
        return false;
    }
}

} // namespace chamber
