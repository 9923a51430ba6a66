// The real serial port over a pseudo-terminal: bytes both ways, failures, a vanishing peer, and
// the mapping of COM names to devices.
#include "link/portnames.h"
#include "link/qtseriallink.h"
#include "support/pty.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <ctime>

using namespace chamber;

namespace {

const QString line = QStringLiteral("9600,n,8,1");

// Points the COM names at the pty's folder and opens its port on the link.
bool openOn(const Pty &pty, QtSerialLink &link, const QString &settings = line)
{
    qputenv("CHAMBERCTL_PORTS", pty.portsDir().toUtf8());
    return pty.isValid() && link.OpenPort(pty.name(), settings);
}

} // namespace

class tst_seriallink : public QObject
{
    Q_OBJECT
private slots:
    void bytesThenPeerLost();
    void openFailures_data();
    void openFailures();
    void devicesForComNames_data();
    void devicesForComNames();
};

void tst_seriallink::bytesThenPeerLost()
{
    Pty pty;
    QtSerialLink link;
    QVERIFY2(openOn(pty, link, QStringLiteral("19200,o,8,2")),
             qPrintable(link.lasterror().description));
    // A pty clears PARENB and keeps 8 data bits whatever it is told; speed, PARODD and stop bits
    // show that the settings reached the device.
    termios tio{};
    QCOMPARE(::tcgetattr(pty.slave(), &tio), 0);
    QCOMPARE(::cfgetospeed(&tio), speed_t(B19200));
    QCOMPARE(tio.c_cflag & (PARODD | CMSPAR | CSTOPB), tcflag_t(PARODD | CSTOPB));

    // every value, CR, LF, XON, XOFF and ^C among them, passes untranslated both ways: raw
    QByteArray everyByte;
    for (int value = 0; value < 256; ++value)
        everyByte += char(value);
    link.SendData(everyByte);
    QCOMPARE(pty.readCount(256, 5000), everyByte);

    // The window's handler pumps events while it decodes. Bytes that come in meanwhile must
    // still be announced, not left waiting for the next piece of the line; none is handed
    // out twice.
    QByteArray received;
    int calls = 0;
    connect(&link, &SerialLink::DataArrival, this, [&] {
        received += link.ReadData();
        if (++calls == 1 && pty.write("second"))
            QTest::qWait(100);
    });
    QVERIFY(pty.write(everyByte));
    QTRY_COMPARE(received, everyByte + "second");
    QCOMPARE(link.ReadData(), QByteArray());

    // the peer vanishes: one PortLost that says why
    QSignalSpy lost(&link, &SerialLink::PortLost);
    QSignalSpy arrivals(&link, &SerialLink::DataArrival);
    pty.closeMaster();
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(link.lasterror().number == 8010 || link.lasterror().number == 8020);
    QVERIFY(!link.lasterror().description.isEmpty());

    // A dead pty left open raises errors on every turn of the event loop: the link must have
    // closed it, and nothing of that may go on, no further signal and the loop idle.
    const std::clock_t cpuBefore = std::clock();
    QTest::qWait(300);
    QCOMPARE_LT(double(std::clock() - cpuBefore) / CLOCKS_PER_SEC, 0.06);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(arrivals.count(), 0);

    // A new peer behind the same name, as a replugged adapter, opens and is reported lost on
    // its own, also when a frame goes to the dead line.
    Pty second;
    const QString entry = pty.portsDir() + "/" + pty.name();
    QVERIFY(QFile::remove(entry) && second.publish(entry));
    QVERIFY2(link.OpenPort(pty.name(), line), qPrintable(link.lasterror().description));
    second.closeMaster();
    link.SendData(QByteArray::fromHex("010300640001c5d5"));
    QTRY_COMPARE(lost.count(), 2);
}

void tst_seriallink::openFailures_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description"); // how it begins; the rest is the system's text
    // COM99 would need 99 devices, more than any machine has
    QTest::newRow("no device has the number") << "COM99" << line << 8002 << "Invalid port number";
    QTest::newRow("entry whose device is gone") << "COM7" << line << 8002 << QString();
    QTest::newRow("plain file, no serial device") << "COM8" << line << 8015 << QString();
    QTest::newRow("held by another link") << "COM5" << line << 8005 << QString();
    QTest::newRow("malformed settings")
        << "COM5" << QStringLiteral("9600,x,8,1") << 380 << "Invalid property value: '9600,x,8,1'";
}

void tst_seriallink::openFailures()
{
    QFETCH(QString, port);
    QFETCH(QString, settings);
    QFETCH(int, number);
    QFETCH(QString, description);
    Pty pty;
    QtSerialLink link, other;
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/ttyUSB7"), pty.portsDir() + "/COM7"));
    QVERIFY(QFile(pty.portsDir() + "/COM8").open(QIODevice::WriteOnly));
    QVERIFY2(openOn(pty, link), qPrintable(link.lasterror().description));

    // link holds the pty; a refused open of its own lets that port go first
    QtSerialLink &tried = number == 8005 ? other : link;
    QVERIFY(!tried.OpenPort(port, settings));
    QCOMPARE(tried.lasterror().number, number);
    const QString got = tried.lasterror().description;
    QVERIFY2(!got.isEmpty() && got.startsWith(description), qPrintable(got));

    // sending when closed is harmless; once link lets go (at once, unless it was the holder),
    // the port opens elsewhere, and closing link again leaves that port be
    tried.SendData("dropped");
    if (number == 8005)
        link.ClosePort();
    QVERIFY2(other.OpenPort(pty.name(), line), qPrintable(other.lasterror().description));
    link.ClosePort();
    other.SendData("ok");
    QCOMPARE(pty.readCount(2, 5000), QByteArray("ok"));
}

void tst_seriallink::devicesForComNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("folder"); // with the ports folder, or none
    QTest::addColumn<QString>("device");
    // The folder's entries win, as given, not resolved; the devices take the other numbers in
    // order, ttyS, ttyUSB, ttyACM, each counted up to its first gap.
    QTest::newRow("folder entry") << "COM2" << true << "ports/COM2";
    QTest::newRow("folder's number skipped") << "COM3" << true << "ttyS1";
    QTest::newRow("ttyS3 after a gap") << "COM4" << true << "ttyUSB0";
    QTest::newRow("entry whose target is gone") << "COM12" << true << "ports/COM12";
    QTest::newRow("no folder, past both gaps") << "COM5" << false << "ttyACM1";
    // past the devices, and names that are not COM1 to COM99, even where an entry has that name
    for (const char *name : {"COM7", "COM05", "COM0", "COM100", "com1", " COM1", "COM1 ", "COM+1",
                             "notes", "COM1/../COM2", ""})
        QTest::addRow("'%s'", name) << QString::fromLatin1(name) << true << QString();
}

void tst_seriallink::devicesForComNames()
{
    QFETCH(QString, name);
    QFETCH(bool, folder);
    QFETCH(QString, device);
    QTemporaryDir base;
    QVERIFY(base.isValid() && QDir(base.path()).mkdir("ports"));
    // relative, as CHAMBERCTL_PORTS may be
    const QString ports = folder ? QDir().relativeFilePath(base.filePath("ports")) : QString();
    const int number = comNumber(name);
    QCOMPARE(mapPorts(ports, base.path()), PortMap()); // nothing there yet

    for (const char *file : {"ttyS0", "ttyS1", "ttyS3", "ttyUSB0", "ttyUSB2", "ttyACM0", "ttyACM1",
                             "ports/COM05", "ports/notes"})
        QVERIFY(QFile(base.filePath(file)).open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), base.filePath("ports/COM2")));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent"), base.filePath("ports/COM12")));
    // seen at once, and absolute, or QSerialPort would look for the name under /dev
    QCOMPARE(mapPorts(ports, base.path()).at(number),
             device.isEmpty() ? device : base.filePath(device));
}

QTEST_GUILESS_MAIN(tst_seriallink)
#include "tst_seriallink.moc"
