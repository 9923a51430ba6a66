// A small program that closes the main window in the middle of a handler, for tst_shutdown.
#include "main/main.h"
#include "support/fakeseriallink.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

class LoudLink : public chamber::FakeSerialLink
{
public:
    void ClosePort() override
    {
        FakeSerialLink::ClosePort();
        if (closing) {
            std::puts("port closed");
            std::fflush(stdout);
        }
    }
    bool closing = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    LoudLink link;
    link.present = {"COM1"};
    chamber::main window(&link);
    window.Form_Load();
    window.show();

    auto closeWindow = [&] {
        std::puts("closing");
        std::fflush(stdout);
        link.closing = true;
        window.close();
    };
    auto *readTemp = window.findChild<QPushButton *>("Command1(1)");
    if (mode == "pause") {
        window.findChild<QComboBox *>("portselect")->setCurrentIndex(1);
        link.answer = [&](const QByteArray &) { QTimer::singleShot(0, closeWindow); };
        readTemp->click();
    } else if (mode == "run") {
        // a recorded run, the window closed inside the pause after a tick's poll
        window.setRecordsFolder(QString::fromLocal8Bit(argv[2]));
        window.findChild<QComboBox *>("portselect")->setCurrentIndex(1);
        window.findChild<QCheckBox *>("cyclerun")->setChecked(true);
        link.answer = [&](const QByteArray &) { QTimer::singleShot(0, closeWindow); };
        window.Timer1_Timer();
    } else if (mode == "alert") {
        // no port chosen: the click raises the modal alert, which stays open
        QTimer::singleShot(200, closeWindow);
        readTemp->click();
    } else if (mode == "idle") {
        QTimer::singleShot(0, closeWindow);
        const int code = app.exec();
        std::printf("ended %d\n", code);
        return code;
    } else {
        return 2;
    }
    std::puts("survived"); // the interrupted handler went on after the window closed
    return 3;
}
