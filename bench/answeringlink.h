// A controller that answers every frame at once, and the window on it, for benchmarks of the tick.
#pragma once

#include "link/frames.h"
#include "link/seriallink.h"
#include "main/main.h"

#include <QComboBox>
#include <QTemporaryDir>
#include <QTimer>

#include <utility>

namespace chamber {

// The controller at the far end answers every frame at once: a reading of 25.0 C to a poll, the
// echo to a write.
class AnsweringLink : public SerialLink
{
public:
    bool OpenPort(const QString &, const QString &) override { return true; }
    void ClosePort() override {}
    void SendData(const QByteArray &frame) override
    {
        const QByteArray reading = QByteArray::fromHex("010302") + char(0) + char(250);
        pending += frame.at(1) == 3 ? reading + calccrc(reading) : frame;
        QTimer::singleShot(0, this, [this] { emit DataArrival(); });
    }
    QByteArray ReadData() override { return std::exchange(pending, {}); }
    ErrorRecord lasterror() const override { return {}; }

private:
    QByteArray pending;
};

// The window on the answering controller, with the port open and its own timer stopped, so that
// only the benchmark's ticks run; its run records go to a folder of their own.
struct AnsweringWindow
{
    AnsweringWindow()
    {
        window.findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
        window.setRecordsFolder(records.path());
        window.Form_Load();
        window.show();
        window.findChild<QComboBox *>(QStringLiteral("portselect"))->setCurrentIndex(1);
    }

    QTemporaryDir records;
    AnsweringLink link;
    main window{&link};
};

} // namespace chamber
