// A SerialLink that records what the window does with the port and plays the line's part.
#pragma once

#include "link/seriallink.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

#include <functional>
#include <utility>

namespace chamber {

class FakeSerialLink : public SerialLink
{
public:
    using SerialLink::SerialLink;

    bool OpenPort(const QString &port, const QString &settings) override
    {
        calls << QStringLiteral("open %1 %2").arg(port, settings);
        if (!present.contains(port)) {
            error = {8002, QStringLiteral("Invalid port number")};
            return false;
        }
        openPort = port;
        return true;
    }
    void ClosePort() override
    {
        calls << QStringLiteral("close");
        openPort.clear();
    }
    void SendData(const QByteArray &frame) override
    {
        calls << QStringLiteral("send %1").arg(QString::fromLatin1(frame.toHex(' ')));
        if (openPort.isEmpty())
            return;
        sent << frame;
        if (answer)
            answer(frame);
    }
    QByteArray ReadData() override { return std::exchange(pending, {}); }
    ErrorRecord lasterror() const override { return error; }
    QString device(const QString &port) const override { return devices.value(port); }

    // Queues bytes as if they had arrived on the line, in pieces of at most piece bytes each,
    // and raises DataArrival for every piece.
    void feed(const QByteArray &bytes, qsizetype piece = 0)
    {
        if (piece <= 0)
            piece = bytes.size();
        for (qsizetype at = 0; at < bytes.size(); at += piece) {
            pending += bytes.mid(at, piece);
            emit DataArrival();
        }
    }

    QSet<QString> present;           // names that open
    QHash<QString, QString> devices; // what each name leads to
    QStringList calls;               // every open, close and send, in order
    QList<QByteArray> sent;          // frames written while a port was open
    QString openPort;                // empty when closed
    ErrorRecord error;
    std::function<void(const QByteArray &)> answer; // called for each frame sent
    QByteArray pending;
};

} // namespace chamber
