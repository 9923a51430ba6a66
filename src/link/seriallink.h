// The serial port control that the window talks through.
#pragma once

#include "util/errorrecord.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace chamber {

// The error number of a COM name with no device behind it ("Invalid port number"), as the classic
// serial port control gave it; the window reports a name the scan did not find with it too.
constexpr qint32 errPortNumber = 8002;

class SerialLink : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool OpenPort(const QString &port, const QString &settings) = 0; // false: lasterror()
    virtual void ClosePort() = 0;                       // harmless when nothing is open
    virtual void SendData(const QByteArray &frame) = 0; // dropped when no port is open
    virtual QByteArray ReadData() = 0;                  // every byte received since the last read
    virtual ErrorRecord lasterror() const = 0;
    // The device that the name port opens ("/dev/ttyUSB0"); empty when unknown.
    virtual QString device(const QString &port) const
    {
        Q_UNUSED(port);
        return {};
    }

signals:
    void DataArrival();
    // The open port failed under us (unplugged adapter, vanished pseudo-terminal). The link has
    // already closed it; lasterror() says why. Raised once per open.
    void PortLost();
};

} // namespace chamber
