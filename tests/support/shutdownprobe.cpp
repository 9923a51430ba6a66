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
        if (closing)
            std::puts("port closed");
    }
    bool closing = false;
};

} // namespace

// argv: the mode (idle, pause, alert or run), then the run records folder
int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IONBF, 0); // the program may end at once, mid-handler
    QApplication app(argc, argv);
    const QString mode = QString::fromLocal8Bit(argv[1]);
    LoudLink link;
    link.present = {"COM1"};
    chamber::main window(&link);
    window.setRecordsFolder(QString::fromLocal8Bit(argv[2]));
    window.Form_Load();
    window.show();
    auto closeWindow = [&] {
        std::puts("closing");
        link.closing = true;
        window.close();
    };
    if (mode == "idle") {
        QTimer::singleShot(0, closeWindow);
        const int code = app.exec();
        std::printf("ended %d\n", code);
        return code;
    }
    if (mode == "alert") {
        QTimer::singleShot(200, closeWindow); // no port chosen: "Read Temp" opens the alert
    } else {
        // closed inside the pause after the command or, in a recorded run, after a tick's poll
        window.findChild<QComboBox *>("portselect")->setCurrentIndex(1);
        window.findChild<QCheckBox *>("cyclerun")->setChecked(mode == "run");
        link.answer = [&](const QByteArray &) { QTimer::singleShot(0, closeWindow); };
    }
    if (mode == "run")
        window.Timer1_Timer();
    else
        window.findChild<QPushButton *>("Command1(1)")->click();
    std::puts("survived"); // the interrupted handler went on after the window closed
    return 3;
}
