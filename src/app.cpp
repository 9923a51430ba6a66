// chamberctl: start-up of the operator program for the temperature chamber.
#include "link/qtseriallink.h"
#include "main/commandline.h"
#include "main/main.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // names the data folder (~/.local/share/chamberctl) and what --version prints
    QCoreApplication::setApplicationName(QStringLiteral("chamberctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CHAMBERCTL_VERSION));

    // Read before QApplication exists, so that --help, --version and a bad option need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const chamber::CommandLine command = chamber::parseCommandLine(arguments);
    if (command.exitStatus) {
        std::fputs(command.output.toLocal8Bit().constData(), stdout);
        std::fputs(command.errors.toLocal8Bit().constData(), stderr);
        return *command.exitStatus;
    }

    QApplication app(argc, argv);
    chamber::QtSerialLink link;
    chamber::main window(&link);
    window.Form_Load();
    window.show();
    window.applyStartOptions(command.options);
    return app.exec();
}
