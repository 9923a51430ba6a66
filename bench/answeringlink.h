// A controller that answers every frame at once, for benchmarks of the window's tick.
#pragma once

#include "link/frames.h"
#include "link/seriallink.h"

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

} // namespace chamber
