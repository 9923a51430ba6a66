// chamberctl: start-up of the operator program for the temperature chamber.
#include "link/qtseriallink.h"
#include "main/main.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // names the data folder (~/.local/share/chamberctl) and what --version prints
    QApplication::setApplicationName(QStringLiteral("chamberctl"));
    QApplication::setApplicationVersion(QStringLiteral(CHAMBERCTL_VERSION));
    chamber::QtSerialLink link;
    chamber::main window(&link);
    window.Form_Load();
    window.show();
    return app.exec();
}
