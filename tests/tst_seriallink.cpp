// The real serial port over a pseudo-terminal: bytes both ways, a vanishing peer, and the
// mapping of COM names to devices.
#include "link/portnames.h"
#include "link/qtseriallink.h"
#include "support/pty.h"

#include <QtTest>

#include <ctime>

using namespace chamber;

class tst_seriallink : public QObject
{
    Q_OBJECT
private slots:
    void realPort()
    {
        Pty pty;
        QtSerialLink link;
        qputenv("CHAMBERCTL_PORTS", pty.portsDir().toUtf8());
        QVERIFY(pty.isValid() && link.OpenPort(pty.name(), QStringLiteral("9600,n,8,1")));
        // every value, XON and XOFF among them, passes both ways
        QByteArray everyByte;
        for (int value = 0; value < 256; ++value)
            everyByte += char(value);
        link.SendData(everyByte);
        QCOMPARE(pty.readCount(256, 5000), everyByte);

        // The window's handler pumps events while it decodes. Bytes that come in meanwhile must
        // still be announced, not left waiting for the next piece of the line; none is handed
        // out twice.
        QByteArray received;
        connect(&link, &SerialLink::DataArrival, this, [&] {
            const bool first = received.isEmpty();
            received += link.ReadData();
            if (first && pty.write("second"))
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
        QCOMPARE(lost.count() + arrivals.count(), 1);
    }

    // The folder's entries win, as given, not resolved; the devices take the other numbers in
    // order, ttyS, ttyUSB, ttyACM, each counted up to its first gap.
    void comNames()
    {
        QTemporaryDir base;
        QVERIFY(base.isValid() && QDir(base.path()).mkdir("ports"));
        const QString ports = QDir().relativeFilePath(base.filePath("ports")); // as it may be
        for (const char *file : {"ttyS0", "ttyS1", "ttyS3", "ttyUSB0", "ttyUSB2", "ttyACM0",
                                 "ttyACM1", "ports/COM05", "ports/notes"})
            QVERIFY(QFile(base.filePath(file)).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), base.filePath("ports/COM2")));
        QVERIFY(QFile::link(QStringLiteral("/nonexistent"), base.filePath("ports/COM12")));
        // absolute, or QSerialPort would look for the name under /dev
        const PortMap map = mapPorts(ports, base.path());
        QStringList devices;
        for (const int number : {1, 2, 3, 4, 5, 6, 7, 12})
            devices << QString(map[number]).remove(base.path() + '/');
        QCOMPARE(devices, QStringList({"ttyS0", "ports/COM2", "ttyS1", "ttyUSB0", "ttyACM0",
                                       "ttyACM1", "", "ports/COM12"}));
        QCOMPARE(mapPorts(QString(), base.path())[5], base.filePath("ttyACM1")); // no folder
        QCOMPARE(comNumber(u"COM99"), 99);
        for (const char *name :
             {"COM05", "COM0", "COM100", "com1", " COM1", "COM1 ", "COM+1", "COM1/../COM2", ""})
            QVERIFY2(comNumber(QString::fromLatin1(name)) == 0, name);
    }
};

QTEST_GUILESS_MAIN(tst_seriallink)
#include "tst_seriallink.moc"
