// The real serial port over a pseudo-terminal: bytes both ways, failures, a vanishing peer, and
// the mapping of COM names to devices.
#include "link/portnames.h"
#include "link/qtseriallink.h"
#include "support/pty.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <ctime>

#include <sys/stat.h>

using namespace chamber;

namespace {

const QString line = QStringLiteral("9600,n,8,1");

QByteArray everybyte()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    return bytes;
}

// How many descriptors of this process have the pty's slave open, the helper's own among them.
// Compared by device number: once the master is gone, the slave's name is gone too.
int openfds(const Pty &pty)
{
    struct stat slave
    {
    };
    if (::fstat(pty.slave(), &slave) != 0)
        return -1;
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        struct stat info
        {
        };
        if (::stat(QFile::encodeName(fds.filePath(fd)).constData(), &info) == 0 &&
            S_ISCHR(info.st_mode) && info.st_rdev == slave.st_rdev)
            ++count;
    }
    return count;
}

double cpuseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

bool makefile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

} // namespace

class tst_seriallink : public QObject
{
    Q_OBJECT
private slots:
    void bytesreachtheline();
    void bytesfromthelinearrive();
    void bytesduringahandlerarrive();
    void settingsreachthedevice_data();
    void settingsreachthedevice();
    void openfailures();
    void malformedsettings();
    void closeandsendwhenclosed();
    void peerlost_data();
    void peerlost();
    void devicesforcomnames();
    void devicesfortheenvironmentfolder();

private:
    static void useports(const Pty &pty) { qputenv("CHAMBERCTL_PORTS", pty.portsdir().toUtf8()); }
};

void tst_seriallink::bytesreachtheline()
{
    Pty pty;
    QVERIFY(pty.isvalid());
    useports(pty);
    QtSerialLink link;
    QVERIFY2(link.OpenPort(pty.name(), line), qPrintable(link.lasterror().description));
    QCOMPARE(openfds(pty), 2);

    // every value, CR, LF, XON, XOFF and ^C among them, must pass untranslated
    link.SendData(everybyte());
    QCOMPARE(pty.readcount(256, 5000), everybyte());

    // frames go out whole and in order
    link.SendData(QByteArray::fromHex("010300640001c5d5"));
    link.SendData(QByteArray::fromHex("0106012c00fa"));
    QCOMPARE(pty.readcount(14, 5000), QByteArray::fromHex("010300640001c5d50106012c00fa"));
}

void tst_seriallink::bytesfromthelinearrive()
{
    Pty pty;
    QVERIFY(pty.isvalid());
    useports(pty);
    QtSerialLink link;
    QVERIFY2(link.OpenPort(pty.name(), line), qPrintable(link.lasterror().description));

    QByteArray received;
    QSignalSpy arrivals(&link, &SerialLink::DataArrival);
    connect(&link, &SerialLink::DataArrival, this, [&] { received += link.ReadData(); });

    QVERIFY(pty.write(everybyte()));
    QTRY_COMPARE(received, everybyte());
    QVERIFY(arrivals.count() >= 1);

    QVERIFY(pty.write(QByteArray::fromHex("01030200fab9c5")));
    QTRY_COMPARE(received, everybyte() + QByteArray::fromHex("01030200fab9c5"));
    QCOMPARE(link.ReadData(), QByteArray()); // nothing is handed out twice
}

void tst_seriallink::bytesduringahandlerarrive()
{
    // The window's handler pumps events while it decodes. Bytes that come in meanwhile must
    // still be announced, not left waiting for the next piece of the line.
    Pty pty;
    QVERIFY(pty.isvalid());
    useports(pty);
    QtSerialLink link;
    QVERIFY2(link.OpenPort(pty.name(), line), qPrintable(link.lasterror().description));

    QByteArray received;
    int calls = 0;
    connect(&link, &SerialLink::DataArrival, this, [&] {
        ++calls;
        received += link.ReadData();
        if (calls == 1) {
            QVERIFY(pty.write("second"));
            QDeadlineTimer pause(100);
            while (!pause.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    });

    QVERIFY(pty.write("first "));
    QTRY_COMPARE(received, QByteArray("first second"));
    QVERIFY(calls >= 2);
}

void tst_seriallink::settingsreachthedevice_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<speed_t>("speed");
    // A pty keeps 8 data bits and clears PARENB whatever it is told, so the data bits and
    // whether parity is on cannot be seen here; which parity (PARODD, CMSPAR) can.
    QTest::addColumn<tcflag_t>("parity");
    QTest::addColumn<bool>("twostops");

    QTest::newRow("9600,n,8,1") << "9600,n,8,1" << speed_t(B9600) << tcflag_t(0) << false;
    QTest::newRow("19200,e,7,2") << "19200,e,7,2" << speed_t(B19200) << tcflag_t(0) << true;
    QTest::newRow("4800,O,5,1") << "4800,O,5,1" << speed_t(B4800) << tcflag_t(PARODD) << false;
    QTest::newRow("2400,m,6,1") << "2400,m,6,1" << speed_t(B2400) << tcflag_t(PARODD | CMSPAR)
                                << false;
    QTest::newRow("115200,s,8,2") << "115200,s,8,2" << speed_t(B115200) << tcflag_t(CMSPAR) << true;
}

void tst_seriallink::settingsreachthedevice()
{
    QFETCH(QString, settings);
    Pty pty;
    QVERIFY(pty.isvalid());
    useports(pty);
    QtSerialLink link;
    QVERIFY2(link.OpenPort(pty.name(), settings), qPrintable(link.lasterror().description));

    termios tio{};
    QCOMPARE(::tcgetattr(pty.slave(), &tio), 0);
    QTEST(::cfgetospeed(&tio), "speed");
    QTEST(::cfgetispeed(&tio), "speed");
    QTEST(tcflag_t(tio.c_cflag & (PARODD | CMSPAR)), "parity");
    QTEST(bool(tio.c_cflag & CSTOPB), "twostops");
    // raw: no echo, no line editing, no CR/LF translation
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
}

void tst_seriallink::openfailures()
{
    Pty pty;
    QVERIFY(pty.isvalid());
    useports(pty);
    QtSerialLink link;

    // names that map to nothing; COM99 would need 99 devices, more than any machine has
    for (const QString &name :
         {QStringLiteral("COM99"), QStringLiteral("COM0"), QStringLiteral("COM05"),
          QStringLiteral("com5"), QStringLiteral("LPT1"), QString()}) {
        QVERIFY2(!link.OpenPort(name, line), qPrintable(name));
        QCOMPARE(link.lasterror().number, 8002);
        QCOMPARE(link.lasterror().description, QStringLiteral("Invalid port number"));
    }

    // a link whose device has gone
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/ttyUSB7"),
                        QDir(pty.portsdir()).filePath(QStringLiteral("COM7"))));
    QVERIFY(!link.OpenPort(QStringLiteral("COM7"), line));
    QCOMPARE(link.lasterror().number, 8002);
    QVERIFY(!link.lasterror().description.isEmpty());

    // a plain file is no serial device: it refuses the line settings
    QVERIFY(makefile(QDir(pty.portsdir()).filePath(QStringLiteral("COM8"))));
    QVERIFY(!link.OpenPort(QStringLiteral("COM8"), line));
    QCOMPARE(link.lasterror().number, 8015);
    QVERIFY(!link.lasterror().description.isEmpty());

    // a port another link holds
    QtSerialLink holder;
    QVERIFY2(holder.OpenPort(pty.name(), line), qPrintable(holder.lasterror().description));
    QVERIFY(!link.OpenPort(pty.name(), line));
    QCOMPARE(link.lasterror().number, 8005);
    QVERIFY(!link.lasterror().description.isEmpty());
    QCOMPARE(openfds(pty), 2); // the pty helper's and the holder's
    holder.SendData("still here");
    QCOMPARE(pty.readcount(10, 5000), QByteArray("still here"));

    // once it is let go, the port opens
    holder.ClosePort();
    QVERIFY2(link.OpenPort(pty.name(), line), qPrintable(link.lasterror().description));
    link.SendData("ok");
    QCOMPARE(pty.readcount(2, 5000), QByteArray("ok"));
}

void tst_seriallink::malformedsettings()
{
    Pty pty;
    QVERIFY(pty.isvalid());
    useports(pty);
    QtSerialLink link;
    QVERIFY2(link.OpenPort(pty.name(), line), qPrintable(link.lasterror().description));

    // a refused open still lets the previous port go first
    QVERIFY(!link.OpenPort(pty.name(), QStringLiteral("9600,x,8,1")));
    QCOMPARE(link.lasterror().number, 380);
    QCOMPARE(link.lasterror().description, QStringLiteral("Invalid property value: '9600,x,8,1'"));
    QCOMPARE(openfds(pty), 1);

    for (const QString &settings :
         {QString(), QStringLiteral("abc,n,8,1"), QStringLiteral("9600,n,9,1"),
          QStringLiteral("9600,n,8,3"), QStringLiteral("9600,n,8"), QString(10000, u',')}) {
        QVERIFY2(!link.OpenPort(pty.name(), settings), qPrintable(settings));
        QCOMPARE(link.lasterror().number, 380);
        QVERIFY(link.lasterror().description.startsWith(u"Invalid property value: '"));
    }
    QCOMPARE(openfds(pty), 1);
    link.SendData("dropped");
    QCOMPARE(pty.readavailable(100), QByteArray());
}

void tst_seriallink::closeandsendwhenclosed()
{
    Pty pty;
    QVERIFY(pty.isvalid());
    useports(pty);
    QtSerialLink link;

    link.ClosePort();
    link.ClosePort();
    link.SendData("never opened");
    QCOMPARE(link.ReadData(), QByteArray());

    QVERIFY2(link.OpenPort(pty.name(), line), qPrintable(link.lasterror().description));
    link.ClosePort();
    link.ClosePort();
    QCOMPARE(openfds(pty), 1);
    link.SendData("after close");
    QCOMPARE(pty.readavailable(100), QByteArray());

    // bytes that came in while closed are not handed out
    QVERIFY(pty.write("stale"));
    QCOMPARE(link.ReadData(), QByteArray());

    // closing leaves the port free to open again
    QVERIFY2(link.OpenPort(pty.name(), line), qPrintable(link.lasterror().description));
    link.SendData("again");
    QCOMPARE(pty.readcount(5, 5000), QByteArray("again"));
}

void tst_seriallink::peerlost_data()
{
    QTest::addColumn<bool>("sending");
    QTest::newRow("peer gone while idle") << false;
    QTest::newRow("peer gone, then a frame sent") << true;
}

void tst_seriallink::peerlost()
{
    QFETCH(bool, sending);
    Pty first(5);
    QVERIFY(first.isvalid());
    useports(first);
    QtSerialLink link;
    QVERIFY2(link.OpenPort(first.name(), line), qPrintable(link.lasterror().description));
    QSignalSpy lost(&link, &SerialLink::PortLost);
    QSignalSpy arrivals(&link, &SerialLink::DataArrival);

    first.closemaster();
    if (sending)
        link.SendData(QByteArray::fromHex("010300640001c5d5"));
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(link.lasterror().number == 8010 || link.lasterror().number == 8020);
    QVERIFY(!link.lasterror().description.isEmpty());
    QCOMPARE(openfds(first), 1); // the link has let the dead line go

    // A dead pty that stays open raises errors on every turn of the event loop. Nothing of
    // that may go on: no further signal, the loop idle, and a timer still served.
    bool served = false;
    QTimer::singleShot(20, this, [&] { served = true; });
    const double cpubefore = cpuseconds();
    QTest::qWait(300);
    const double cpuspent = cpuseconds() - cpubefore;
    QVERIFY(served);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(arrivals.count(), 0);
    QVERIFY2(cpuspent < 0.06, qPrintable(QStringLiteral("%1 s of CPU").arg(cpuspent)));

    // the dead port is quietly closed
    link.SendData("dropped");
    link.ClosePort();
    QCOMPARE(link.ReadData(), QByteArray());

    // a new peer opens, works both ways, and is reported lost on its own
    Pty second(6);
    QVERIFY(second.isvalid());
    useports(second);
    QVERIFY2(link.OpenPort(second.name(), line), qPrintable(link.lasterror().description));
    link.SendData("hello");
    QCOMPARE(second.readcount(5, 5000), QByteArray("hello"));
    QVERIFY(second.write("world"));
    QTRY_VERIFY(arrivals.count() >= 1);
    QCOMPARE(link.ReadData(), QByteArray("world"));
    second.closemaster();
    QTRY_COMPARE(lost.count(), 2);
}

void tst_seriallink::devicesforcomnames()
{
    QTemporaryDir dev;
    QTemporaryDir ports;
    QVERIFY(dev.isValid() && ports.isValid());
    // existence is what counts; ttyS3 and ttyUSB2 follow a gap and are not counted
    for (const char *name : {"ttyS0", "ttyS1", "ttyS3", "ttyUSB0", "ttyUSB2", "ttyACM0", "ttyACM1"})
        QVERIFY(makefile(dev.filePath(QLatin1String(name))));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), ports.filePath(QStringLiteral("COM2"))));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent"), ports.filePath(QStringLiteral("COM12"))));
    QVERIFY(makefile(ports.filePath(QStringLiteral("COM05")))); // not a COM name: takes nothing
    QVERIFY(makefile(ports.filePath(QStringLiteral("notes"))));
    const QString d = dev.path();
    const QString p = ports.path();

    // the folder's entries, as given, not resolved; the devices fill the other numbers in order
    QCOMPARE(devicefor(QStringLiteral("COM1"), p, d), d + QStringLiteral("/ttyS0"));
    QCOMPARE(devicefor(QStringLiteral("COM2"), p, d), p + QStringLiteral("/COM2"));
    QCOMPARE(devicefor(QStringLiteral("COM3"), p, d), d + QStringLiteral("/ttyS1"));
    QCOMPARE(devicefor(QStringLiteral("COM4"), p, d), d + QStringLiteral("/ttyUSB0"));
    QCOMPARE(devicefor(QStringLiteral("COM5"), p, d), d + QStringLiteral("/ttyACM0"));
    QCOMPARE(devicefor(QStringLiteral("COM6"), p, d), d + QStringLiteral("/ttyACM1"));
    QCOMPARE(devicefor(QStringLiteral("COM7"), p, d), QString());
    QCOMPARE(devicefor(QStringLiteral("COM12"), p, d), p + QStringLiteral("/COM12"));
    QCOMPARE(devicefor(QStringLiteral("COM99"), p, d), QString());

    // without the folder the devices take every number from COM1
    QCOMPARE(devicefor(QStringLiteral("COM2"), QString(), d), d + QStringLiteral("/ttyS1"));
    QCOMPARE(devicefor(QStringLiteral("COM5"), QString(), d), d + QStringLiteral("/ttyACM1"));
    QCOMPARE(devicefor(QStringLiteral("COM6"), QString(), d), QString());
    QCOMPARE(devicefor(QStringLiteral("COM2"), p + QStringLiteral("/missing"), d),
             d + QStringLiteral("/ttyS1"));
    QCOMPARE(devicefor(QStringLiteral("COM1"), p, p + QStringLiteral("/nodev")), QString());

    // an entry made after the first look is seen at once
    QCOMPARE(devicefor(QStringLiteral("COM9"), p, d), QString());
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), ports.filePath(QStringLiteral("COM9"))));
    QCOMPARE(devicefor(QStringLiteral("COM9"), p, d), p + QStringLiteral("/COM9"));

    // names that are not COM1 to COM99 map to nothing, even where an entry has that name
    for (const QString &name :
         {QStringLiteral("COM05"), QStringLiteral("COM0"), QStringLiteral("COM100"),
          QStringLiteral("COM"), QStringLiteral("com1"), QStringLiteral(" COM1"),
          QStringLiteral("COM1 "), QStringLiteral("COM+1"), QStringLiteral("COM-1"),
          QStringLiteral("notes"), QStringLiteral("COM1/../COM2"), QString()})
        QVERIFY2(devicefor(name, p, d).isEmpty(), qPrintable(name));
}

void tst_seriallink::devicesfortheenvironmentfolder()
{
    QTemporaryDir base;
    QVERIFY(base.isValid());
    QVERIFY(QDir(base.path()).mkdir(QStringLiteral("ports")));
    const QString ports = base.filePath(QStringLiteral("ports"));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), ports + QStringLiteral("/COM42")));

    qputenv("CHAMBERCTL_PORTS", ports.toUtf8());
    QCOMPARE(devicefor(QStringLiteral("COM42")), ports + QStringLiteral("/COM42"));
    QCOMPARE(devicefor(QStringLiteral("COM042")), QString());

    // a relative folder still yields a path QSerialPort will not look for under /dev
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(base.path()));
    qputenv("CHAMBERCTL_PORTS", "ports");
    const QString device = devicefor(QStringLiteral("COM42"));
    const QString expected = QDir::current().absoluteFilePath(QStringLiteral("ports/COM42"));
    QVERIFY(QDir::setCurrent(before));
    qunsetenv("CHAMBERCTL_PORTS");
    QCOMPARE(device, expected);
    QVERIFY(device.startsWith(u'/'));
}

QTEST_GUILESS_MAIN(tst_seriallink)
#include "tst_seriallink.moc"
