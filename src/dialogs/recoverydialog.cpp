// The question of an unended run, with a button for each way out.
#include "dialogs/recoverydialog.h"

#include "util/design.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace chamber {

RecoveryDialog::RecoveryDialog(const QString &description, const QString &cannotResume,
                               QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Unfinished run"));
    auto *layout = new QVBoxLayout(this);
    QString text = description;
    if (!cannotResume.isEmpty())
        text += QStringLiteral("\n\nIt cannot be resumed: %1.").arg(cannotResume);
    auto *said = new QLabel(text, this);
    said->setWordWrap(true);
    said->setMinimumWidth(420);
    nameControl(said, QStringLiteral("description"), text);
    layout->addWidget(said);

    auto *buttons = new QDialogButtonBox(this);
    const auto add = [this, buttons](const QString &name, const QString &caption,
                                     RecoveryChoice choice) {
        QPushButton *button = buttons->addButton(caption, QDialogButtonBox::AcceptRole);
        nameControl(button, name, caption);
        // each way out is a deliberate choice: Enter picks none of them
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, choice] {
            chosen = choice;
            accept();
        });
    };
    if (cannotResume.isEmpty())
        add(QStringLiteral("resume"), QStringLiteral("Resume"), RecoveryChoice::Resume);
    add(QStringLiteral("end"), QStringLiteral("End at 25.0 °C"), RecoveryChoice::End);
    add(QStringLiteral("leave"), QStringLiteral("Leave it"), RecoveryChoice::Leave);
    layout->addWidget(buttons);
}

} // namespace chamber

#include "moc_recoverydialog.cpp"
