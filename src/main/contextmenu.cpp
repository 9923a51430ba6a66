// The right-click menu of the window background and the trend plot, and the commands it offers.
#include "main/main.h"

#include "report/recordview.h"
#include "util/basicutilities.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QStandardPaths>
#include <QUrl>

namespace chamber {

using basicutilities::whenFree;

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
        connect(action, &QAction::triggered, this,
                [this, act] { whenFree(this, [this, act] { (this->*act)(); }); });
    };
    entry(QStringLiteral("Open profile…"), QKeySequence::Open, &main::openProfile);
    entry(QStringLiteral("Save profile…"), QKeySequence::Save, &main::saveProfile);
    QAction *conditions = menu.addAction(QStringLiteral("Run conditions…"), this,
                                         [this] { whenFree(this, [this] { editConditions(); }); });
    conditions->setEnabled(free); // they travel with the profile
    menu.addSeparator();
    // each opens its dialog once the menu has closed, never inside a pause of the tick
    menu.addAction(QStringLiteral("Save plot as PNG…"), this,
                   [this] { whenFree(this, [this] { savePlot(false); }); });
    menu.addAction(QStringLiteral("Save plot as PDF…"), this,
                   [this] { whenFree(this, [this] { savePlot(true); }); });
    menu.addSeparator();
    menu.addAction(QStringLiteral("Open run record…"), this,
                   [this] { whenFree(this, [this] { openRunRecord(); }); });
    menu.addAction(QStringLiteral("Open run records folder"), this,
                   [this] { whenFree(this, [this] { openRecordsFolder(); }); });
}

void main::contextMenuEvent(QContextMenuEvent *event)
{
    showContextMenu(event->globalPos());
}

void main::showContextMenu(const QPoint &globalPos)
{
    // A right click inside the tick's pause would hold the tick for as long as the menu is open.
    whenFree(this, [this, globalPos] {
        QMenu menu(this);
        fillContextMenu(menu);
        basicutilities::PumpScope pumping;
        // pumps events: tick and replies may run here
        menu.exec(globalPos);
    });
}

void main::savePlot(bool pdf)
{
    const QString suffix = pdf ? QStringLiteral("pdf") : QStringLiteral("png");
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested = QDir(folder).filePath(
        QStringLiteral("chamberctl-trend-%1.%2")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH-mm-ss")),
                 suffix));
    QString path;
    {
        basicutilities::PumpScope pumping;
        // pumps events: tick and replies may run here
        path = QFileDialog::getSaveFileName(
            this, pdf ? QStringLiteral("Save plot as PDF") : QStringLiteral("Save plot as PNG"),
            suggested,
            pdf ? QStringLiteral("PDF document (*.pdf)") : QStringLiteral("PNG image (*.png)"));
    }
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + suffix;
    const bool saved = trendViews->saveShown(
        path, pdf, portready ? portselect->currentText() : QStringLiteral("no port"));
    if (!saved) {
        // pumps events: tick and replies may run here
        basicutilities::alert(QStringLiteral("Plot not saved"),
                              QStringLiteral("The plot could not be saved as %1.").arg(path), 0);
    }
}

void main::openRunRecord()
{
    QString path;
    {
        basicutilities::PumpScope pumping;
        // pumps events: tick and replies may run here
        path = QFileDialog::getOpenFileName(this, QStringLiteral("Open run record"),
                                            recordsFolder(), QStringLiteral("Run records (*.csv)"));
    }
    if (!path.isEmpty())
        trendViews->open(path); // read on a thread of its own, then shown over the trend
}

void main::openRecordsFolder()
{
    const QString folder = recordsFolder();
    // made here, so that the folder opens even before the first run
    if (QDir().mkpath(folder) && QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        return;
    // pumps events: tick and replies may run here
    basicutilities::alert(
        QStringLiteral("Run records"),
        QStringLiteral("The run records folder %1 could not be opened.").arg(folder), 0);
}

} // namespace chamber
