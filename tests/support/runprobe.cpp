// The window on the real serial link, running a profile from the start, for a test to kill while
// the run is under way: CHAMBERCTL_PORTS names the simulator's port.
#include "link/qtseriallink.h"
#include "main/commandline.h"
#include "main/main.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

// argv: the run records folder, then the profile file
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3)
        return 2;
    chamber::QtSerialLink link;
    chamber::main window(&link);
    window.Form_Load();
    window.show();
    window.applyStartOptions({QStringLiteral("COM1"), QString::fromLocal8Bit(argv[2]),
                              QString::fromLocal8Bit(argv[1]), true});
    // "Run" once a reading has come, as an operator would tick it
    QTimer start;
    QObject::connect(&start, &QTimer::timeout, &window, [&] {
        if (window.findChild<QLineEdit *>("currenttemp")->text() == QLatin1String("0.0"))
            return;
        start.stop();
        window.findChild<QCheckBox *>("cyclerun")->setChecked(true);
    });
    start.start(50);
    return app.exec();
}
