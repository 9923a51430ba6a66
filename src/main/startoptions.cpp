// What the command line asks of the window at start: a profile, a port and "Auto".
#include "main/main.h"

#include "main/commandline.h"
#include "util/basicutilities.h"

#include <QCheckBox>
#include <QComboBox>

#include <memory>

namespace chamber {

void main::applyStartOptions(const StartOptions &options)
{
    if (!options.records.isEmpty())
        setRecordsFolder(options.records);
    setRunSigner(options.operatorName, options.testId);
    if (!options.profile.isEmpty()) {
        // pumps events: tick and replies may run here
        loadProfile(options.profile);
    }
    if (options.autoread) {
        // "Auto" is ticked once a port is open: right after --port has opened one, else the first
        // time the operator opens one. Runs after portselect_Click, which was connected first.
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(portselect, &QComboBox::currentIndexChanged, this, [this, once] {
            if (!portready)
                return;
            disconnect(*once);
            autoread->setChecked(true);
        });
    }
    if (!options.port.isEmpty())
        choosePort(options.port);
    offerRecovery(options.recover);
}

void main::choosePort(const QString &name)
{
    const int index = portselect->findText(name);
    if (index > 0) {
        portselect->setCurrentIndex(index); // portselect_Click opens it, or reports why not
        return;
    }
    // pumps events: tick and replies may run here
    basicutilities::alert(
        QStringLiteral("Com port error"), QString(), 2,
        {errPortNumber, QStringLiteral("%1 was not found by the port scan").arg(name)});
}

} // namespace chamber
