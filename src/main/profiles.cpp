// Profile files for the window: choosing one through Z_selectfile, loading it, saving to it.
#include "main/main.h"

#include "dialogs/z_selectfile.h"
#include "util/basicutilities.h"
#include "util/numbertext.h"
#include "util/profilefile.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QShortcut>

namespace chamber {

void main::createProfileShortcuts()
{
    // The window's own shortcuts, so they work whether or not the menu has ever been opened.
    // The dialogs open from the event loop: a key pressed inside the tick's pause must not hold
    // the tick while a dialog is open.
    auto *open = new QShortcut(QKeySequence::Open, this);
    connect(open, &QShortcut::activated, this,
            [this] { basicutilities::whenFree(this, [this] { openProfile(); }); });
    auto *save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this,
            [this] { basicutilities::whenFree(this, [this] { saveProfile(); }); });
}

bool main::profileLocked() const
{
    // a run holds the profile fields read-only from its start to its stop
    return cyclerun->isChecked() || setpoints[0]->isReadOnly();
}

void main::openProfile()
{
    if (profileLocked())
        return;
    // pumps events: tick and replies may run here
    const QString path = chooseProfileFile(QStringLiteral("Open profile"));
    if (path.isEmpty() || profileLocked())
        return;
    loadProfile(path);
}

void main::saveProfile()
{
    if (profileLocked())
        return;
    // pumps events: tick and replies may run here
    QString path = chooseProfileFile(QStringLiteral("Save profile"));
    if (path.isEmpty() || profileLocked())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + profileSuffix;
    if (QFileInfo(path).isFile()) {
        // pumps events: tick and replies may run here
        const bool replace = basicutilities::alert(
            QStringLiteral("Save profile"),
            QStringLiteral("%1 already exists.\n\n\"OK\" replaces it with the profile in the "
                           "window; \"Cancel\" keeps it.")
                .arg(QDir::toNativeSeparators(path)),
            1);
        if (!replace || profileLocked())
            return;
    }
    QString error;
    if (!writeProfile(path, fieldsProfile(), error)) {
        // pumps events: tick and replies may run here
        basicutilities::alert(QStringLiteral("Profile error"),
                              QStringLiteral("The profile could not be saved to\n%1\n\n%2.\n\n"
                                             "An earlier file of that name is as it was.")
                                  .arg(QDir::toNativeSeparators(path), error),
                              0);
    }
}

// Runs the shared file selection dialog as its contract asks: pattern set, shown modally, the
// name read from filename and the folder from the file list, then destroyed. Empty after
// "Cancel", the close box or "OK" with neither a name nor one file highlighted.
QString main::chooseProfileFile(const QString &title)
{
    Z_selectfile *dialog = Z_selectfile::instance();
    dialog->setWindowTitle(title);
    dialog->setPattern(QStringLiteral("*.") + profileSuffix);
    if (!profileFolder.isEmpty())
        dialog->setPath(profileFolder); // a folder removed since then leaves the dialog's own
    bool accepted = false;
    {
        basicutilities::PumpScope pumping;
        // pumps events: tick and replies may run here
        accepted = dialog->exec() == QDialog::Accepted;
    }
    // Several names may have been collected, one a line; a profile is one file, the first.
    QString name;
    for (const QString &line : dialog->filename->toPlainText().split(QLatin1Char('\n'))) {
        name = line.trimmed();
        if (!name.isEmpty())
            break;
    }
    // "OK" with no name collected takes the one file highlighted, as every file dialog does.
    const QList<QListWidgetItem *> highlighted = dialog->filelist->selectedItems();
    if (accepted && name.isEmpty() && highlighted.size() == 1)
        name = highlighted.first()->text();
    const QString folder = dialog->path();
    Z_selectfile::release();
    if (name.isEmpty())
        return {};
    profileFolder = folder;
    return QDir::cleanPath(QDir(folder).absoluteFilePath(name)); // a typed name may be absolute
}

bool main::loadProfile(const QString &path)
{
    if (profileLocked())
        return false; // a run reads these fields as it goes
    QString error;
    const std::optional<Profile> profile = readProfile(path, error);
    if (!profile) {
        // pumps events: tick and replies may run here
        basicutilities::alert(QStringLiteral("Profile error"),
                              QStringLiteral("The profile could not be loaded from\n%1\n\n%2.\n\n"
                                             "No field was changed.")
                                  .arg(QDir::toNativeSeparators(path), error),
                              0);
        return false;
    }
    applyProfile(*profile);
    loadedProfile = {path, shownProfile()};
    return true;
}

void main::applyProfile(const Profile &profile)
{
    // The fields' own normalising gives the same text as typing the value and leaving the field,
    // the 175.0 limit included.
    for (int i = 0; i < 4; ++i) {
        setpoints[i]->setText(writenumber(profile.setpoints[i], 1));
        normalise(setpoints[i], 1, true);
        dwells[i]->setText(writenumber(profile.dwells[i], 0));
        normalise(dwells[i], 0, false);
    }
    cycles[0]->setText(writenumber(profile.cycles, 0));
    normalise(cycles[0], 0, false);
    // point 3's box first: clearing it clears point 4's
    rampenable[0]->setChecked(profile.usePoints[2]);
    rampenable[1]->setChecked(profile.usePoints[3]);
    runConditions = profile.conditions;
}

Profile main::fieldsProfile()
{
    // what the operator sees once the fields are tidied, as leaving each of them would
    Profile profile;
    for (int i = 0; i < 4; ++i) {
        normalise(setpoints[i], 1, true);
        profile.setpoints[i] = readnumber(setpoints[i]->text());
        normalise(dwells[i], 0, false);
        profile.dwells[i] = readnumber(dwells[i]->text());
    }
    normalise(cycles[0], 0, false);
    profile.cycles = readnumber(cycles[0]->text());
    profile.usePoints = {true, true, rampenable[0]->isChecked(), rampenable[1]->isChecked()};
    profile.conditions = runConditions;
    return profile;
}

Profile main::shownProfile() const
{
    Profile profile;
    for (int i = 0; i < 4; ++i) {
        profile.setpoints[i] = readnumber(setpoints[i]->text());
        profile.dwells[i] = readnumber(dwells[i]->text());
    }
    profile.cycles = readnumber(cycles[0]->text());
    profile.usePoints = {true, true, rampenable[0]->isChecked(), rampenable[1]->isChecked()};
    profile.conditions = runConditions;
    return profile;
}

} // namespace chamber
