// SerialLink over a QSerialPort.
#pragma once

#include "link/seriallink.h"

QT_BEGIN_NAMESPACE
class QSerialPort;
QT_END_NAMESPACE

namespace chamber {

class QtSerialLink : public SerialLink
{
    Q_OBJECT
public:
    explicit QtSerialLink(QObject *parent = nullptr);
    ~QtSerialLink() override;

    bool OpenPort(const QString &port, const QString &settings) override;
    void ClosePort() override;
    void SendData(const QByteArray &frame) override;
    QByteArray ReadData() override;
    ErrorRecord lasterror() const override;

private:
    QSerialPort *serial = nullptr;
    ErrorRecord error;
};

} // namespace chamber
