// SerialLink over a QSerialPort.
#pragma once

#include "link/portnames.h"
#include "link/seriallink.h"

#include <optional>

QT_BEGIN_NAMESPACE
class QSerialPort;
QT_END_NAMESPACE

namespace chamber {

class QtSerialLink : public SerialLink
{
    Q_OBJECT
public:
    // deviceRoot: the folder of the numbered serial devices on POSIX systems (tests use their own).
    explicit QtSerialLink(QObject *parent = nullptr,
                          const QString &deviceRoot = QStringLiteral("/dev"));
    ~QtSerialLink() override;

    bool OpenPort(const QString &port, const QString &settings) override;
    void ClosePort() override;
    void SendData(const QByteArray &frame) override;
    QByteArray ReadData() override;
    ErrorRecord lasterror() const override;
    QString device(const QString &port) const override;

private:
    void arrival();
    void dropLostPort(quint64 lostOpening);

    QSerialPort *serial = nullptr;
    QString deviceRoot;
    // Which device each COM name opens, fixed by the first open, the start-up scan's: a name
    // whose device went away must fail, not open whatever now has its number.
    std::optional<PortMap> devices;
    ErrorRecord error;
    QByteArray rx;          // received, announced by DataArrival, not yet taken by ReadData
    bool inArrival = false; // a DataArrival handler is running
    quint64 openings = 0;   // counts successful opens, so a late close cannot hit a newer port
    bool opening = false;   // errors raised inside OpenPort are its own result, not a loss
    bool lost = false;      // the open port has failed; its PortLost is on its way
};

} // namespace chamber
