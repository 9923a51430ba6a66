// The right-click menu of the window background.
#include "main/main.h"

#include <QContextMenuEvent>
#include <QMenu>

namespace chamber {

void main::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    fillContextMenu(menu);
    if (!menu.isEmpty())
        menu.exec(event->globalPos());
}

void main::fillContextMenu(QMenu &menu)
{
    // Both act on the profile fields, which a run holds locked; the state is taken as the menu
    // opens, and the shortcuts check it again when they fire.
    const bool free = !profileLocked();
    const auto entry = [&](const QString &text, QKeySequence::StandardKey key,
                           void (main::*act)()) {
        QAction *action = menu.addAction(text);
        action->setShortcut(key); // shown only: the window's own shortcut does the work
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setEnabled(free);
        connect(action, &QAction::triggered, this, act);
    };
    entry(QStringLiteral("Open profile…"), QKeySequence::Open, &main::openProfile);
    entry(QStringLiteral("Save profile…"), QKeySequence::Save, &main::saveProfile);
}

} // namespace chamber
