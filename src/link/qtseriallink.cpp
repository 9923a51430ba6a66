// SerialLink over a QSerialPort.
#include "link/qtseriallink.h"

#include "link/portnames.h"
#include "link/portsettings.h"

#include <QMetaObject>
#include <QPointer>
#include <QSerialPort>

namespace chamber {

namespace {

// Error numbers as the classic serial port control gave them, so that the alert's error report
// reads as operators of such programs know it. Every number this link records comes from here;
// the description is QSerialPort's own text unless noted. errPortNumber (seriallink.h) is the
// one for a name with no device, or whose device is missing.
constexpr qint32 errInvalidValue = 380; // malformed settings text ("Invalid property value")
constexpr qint32 errPortOpen = 8005;    // in use by another program, locked or not permitted
constexpr qint32 errHardware = 8010;    // the device failed or vanished (unplugged adapter)
constexpr qint32 errCommState = 8015;   // the device refused the line settings
constexpr qint32 errRead = 8020;        // reading the device failed

qint32 numberFor(QSerialPort::SerialPortError code)
{
    switch (code) {
    case QSerialPort::DeviceNotFoundError:
        return errPortNumber;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return errPortOpen;
    case QSerialPort::UnsupportedOperationError:
        return errCommState;
    case QSerialPort::ReadError:
        return errRead;
    default:
        return errHardware;
    }
}

// QSerialPort's values in the order of PortSettings' enums.
constexpr QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                            QSerialPort::OddParity, QSerialPort::MarkParity,
                                            QSerialPort::SpaceParity};
constexpr QSerialPort::StopBits stopBits[] = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                              QSerialPort::TwoStop};

// What a lost port's error record says. QSerialPort's own text is no help here: a vanished
// pseudo-terminal reads end-of-file, and errno then still holds whatever an earlier call left.
QString lostDescription(QSerialPort::SerialPortError code, const QString &device)
{
    QString what;
    switch (code) {
    case QSerialPort::ReadError:
        what = QStringLiteral("Error reading from device");
        break;
    case QSerialPort::WriteError:
        what = QStringLiteral("Error writing to device");
        break;
    default:
        what = QStringLiteral("Device disappeared from the system");
        break;
    }
    return QStringLiteral("%1 (%2)").arg(what, device);
}

// The errors by which QSerialPort tells that an open port has failed under us. A vanished
// pseudo-terminal raises read and write errors on every turn of the event loop until the port
// is closed; an unplugged USB adapter raises a resource error.
bool meansLost(QSerialPort::SerialPortError code)
{
    return code == QSerialPort::ResourceError || code == QSerialPort::ReadError ||
           code == QSerialPort::WriteError;
}

} // namespace

QtSerialLink::QtSerialLink(QObject *parent, const QString &deviceRoot)
    : SerialLink(parent)
    , serial(new QSerialPort(this))
    , deviceRoot(deviceRoot)
{
    connect(serial, &QSerialPort::readyRead, this, &QtSerialLink::arrival);
    connect(serial, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError code) {
        if (opening || lost || !meansLost(code) || !serial->isOpen())
            return;
        lost = true;
        error = {numberFor(code), lostDescription(code, serial->portName())};
        // The error is raised from inside the port's own notifier, which close() deletes; close
        // once the event loop is back in charge.
        const quint64 lostOpening = openings;
        QMetaObject::invokeMethod(
            this, [this, lostOpening] { dropLostPort(lostOpening); }, Qt::QueuedConnection);
    });
}

QtSerialLink::~QtSerialLink()
{
    // nothing of this object may run while the port closes during destruction
    serial->disconnect(this);
    ClosePort();
}

QString QtSerialLink::device(const QString &port) const
{
    return devices ? devices->at(std::size_t(comNumber(port))) : QString();
}

bool QtSerialLink::OpenPort(const QString &port, const QString &settings)
{
    ClosePort();

    const std::optional<PortSettings> parsed = parseSettings(settings);
    if (!parsed) {
        error = {errInvalidValue, QStringLiteral("Invalid property value: '%1'").arg(settings)};
        return false;
    }
    if (!devices)
        devices = mapPorts(qEnvironmentVariable("CHAMBERCTL_PORTS"), deviceRoot);
    const QString device = devices->at(std::size_t(comNumber(port)));
    if (device.isEmpty()) {
        error = {errPortNumber, QStringLiteral("Invalid port number")};
        return false;
    }

    // Set while closed, these are only stored and applied by open(). No DTR, RTS or flow
    // control line is touched: pseudo-terminals refuse those calls.
    serial->setPortName(device);
    serial->setBaudRate(parsed->baud);
    serial->setParity(parities[parsed->parity]);
    serial->setDataBits(QSerialPort::DataBits(parsed->dataBits));
    serial->setStopBits(stopBits[parsed->stopBits]);
    serial->setFlowControl(QSerialPort::NoFlowControl);

    opening = true;
    const bool opened = serial->open(QIODevice::ReadWrite);
    opening = false;
    if (!opened) {
        error = {numberFor(serial->error()), serial->errorString()};
        serial->clearError();
        return false;
    }
    ++openings;
    lost = false;
    return true;
}

void QtSerialLink::ClosePort()
{
    // QSerialPort::close() on a closed port records a "not open" error; keep it quiet
    if (serial->isOpen())
        serial->close();
    rx.clear(); // bytes of a port the owner let go are not read from the next one
}

void QtSerialLink::SendData(const QByteArray &frame)
{
    // Dropped when closed, by design: the caller checks portready before it sends. A failed
    // write on an open port is reported through errorOccurred as a lost port.
    if (serial->isOpen() && !frame.isEmpty())
        serial->write(frame);
}

QByteArray QtSerialLink::ReadData()
{
    QByteArray bytes;
    bytes.swap(rx);
    if (serial->isOpen())
        bytes += serial->readAll();
    return bytes;
}

ErrorRecord QtSerialLink::lasterror() const
{
    return error;
}

void QtSerialLink::arrival()
{
    // QSerialPort raises no readyRead while a readyRead handler runs, and the window's handler
    // pumps events: bytes that come in meanwhile would wait, unannounced, for the next piece of
    // the line. So the handler is called again for as long as it left new bytes behind.
    if (inArrival)
        return;
    const QPointer<QtSerialLink> alive(this);
    inArrival = true;
    while (serial->isOpen()) {
        const QByteArray fresh = serial->readAll();
        if (fresh.isEmpty())
            break;
        rx += fresh;
        emit DataArrival();
        if (!alive)
            return;
    }
    inArrival = false;
}

void QtSerialLink::dropLostPort(quint64 lostOpening)
{
    // The owner may have closed the port, or opened another, since the error was raised.
    if (lostOpening != openings || !lost || !serial->isOpen())
        return;
    serial->close();
    emit PortLost();
}

} // namespace chamber

#include "moc_qtseriallink.cpp"
#include "moc_seriallink.cpp"
