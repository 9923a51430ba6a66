// chamberctl: start-up of the operator program for the temperature chamber.
#include "link/qtseriallink.h"
#include "main/main.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    chamber::QtSerialLink link;
    chamber::main window(&link);
    window.Form_Load();
    window.show();
    return app.exec();
}
