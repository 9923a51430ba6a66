// chamber-sim checked from outside: by mbpoll, a Modbus master we did not write, and by raw bytes.
#include "support/simprocess.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace chamber {

const QByteArray readTemp = QByteArray::fromHex("010300640001c5d5");
const QByteArray reply250 = QByteArray::fromHex("01030200fa3807"); // 25.0 degrees

// What mbpoll said polling one holding register, 9600 8N1, slave 1; references count from 1,
// so register 100 is reference 101. A value after the port writes it.
QString mbpoll(const QString &port, int reference, const QStringList &value = {})
{
    const QStringList args = QString("-m rtu -a 1 -b 9600 -P none -d 8 -s 1 -t 4 -1 -r").split(' ');
    QProcess p;
    p.start(QStandardPaths::findExecutable("mbpoll"),
            args + QStringList{QString::number(reference), port} + value);
    p.waitForFinished(simStartMs); // else killed as it goes
    return p.readAllStandardOutput() + p.readAllStandardError();
}

// The value mbpoll read for the reference; -1 on failure.
int readRegister(const QString &port, int reference)
{
    static const QRegularExpression value(QStringLiteral("^\\[\\d+\\]:\\s+(\\d+)"),
                                          QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = value.match(mbpoll(port, reference));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// A client that opens the port through its link and speaks raw bytes; the simulator keeps the
// line raw.
struct RawClient
{
    explicit RawClient(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {}
    ~RawClient() { ::close(fd); }
    bool send(const QByteArray &data)
    {
        return ::write(fd, data, size_t(data.size())) == data.size();
    }
    // Whatever arrives until count bytes are in or the time is up.
    QByteArray receive(qsizetype count, int timeoutMs)
    {
        QByteArray got;
        const QDeadlineTimer deadline(timeoutMs);
        char chunk[256];
        pollfd p{fd, POLLIN, 0};
        while (got.size() < count && ::poll(&p, 1, int(deadline.remainingTime())) > 0)
            got.append(chunk, qMax<ssize_t>(0, ::read(fd, chunk, sizeof chunk)));
        return got;
    }
    const int fd;
};

class tst_chambersim : public QObject
{
    Q_OBJECT
private slots:
    // mbpoll reads and writes the registers and sees the faults the simulator is told to make.
    void mbpollCrossCheck()
    {
        SimProcess sim({"--rate", "50", "--ambient", "20"});
        SimProcess badCrc({"--bad-crc-every", "1"});
        SimProcess limited({"--max-setpoint", "100"});
        QVERIFY(sim.waitReady() && badCrc.waitReady() && limited.waitReady());
        QCOMPARE(readRegister(sim.port(), 101), 200);
        mbpoll(sim.port(), 301, {"805"});
        QCOMPARE(readRegister(sim.port(), 301), 805);
        // The temperature follows the setpoint at 50 degrees per second; only it is writable.
        QTRY_COMPARE_WITH_TIMEOUT(readRegister(sim.port(), 101), 805, 10000);
        QVERIFY(mbpoll(sim.port(), 101, {"5"}).contains(QLatin1String("Illegal data address")));
        const QString crc = mbpoll(badCrc.port(), 101);
        QVERIFY2(crc.contains(QLatin1String("CRC")), qPrintable(crc));
        const QString high = mbpoll(limited.port(), 301, {"1500"});
        QVERIFY2(high.contains(QLatin1String("Illegal data value")), qPrintable(high));
        QCOMPARE(readRegister(limited.port(), 301), 230); // unchanged
        mbpoll(limited.port(), 301, {"1000"});            // the maximum itself is allowed
        QCOMPARE(readRegister(limited.port(), 301), 1000);
        for (SimProcess *each : {&sim, &badCrc, &limited})
            QCOMPARE(each->stop(), QString());
        QVERIFY(!QFileInfo(sim.port()).isSymLink() && !QFileInfo::exists(sim.folder));
    }

    // A reply left unread when its client closes the port is not handed to the next one, and a
    // port scan's quick opens and closes go by; a frame with a bad CRC or for another slave is
    // dropped with whatever follows it.
    void rawBytes()
    {
        SimProcess sim({"--ambient", "25", "--log"});
        QVERIFY(sim.waitReady());
        {
            RawClient client(sim.port());
            QVERIFY(client.send(readTemp));
            QTRY_COMPARE_WITH_TIMEOUT(sim.logLines("tx ").size(), 1, 5000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(sim.logLines("close").size(), 1, 5000);
        for (int i = 0; i < 10; ++i)
            RawClient{sim.port()};
        RawClient next(sim.port());
        QVERIFY(next.send(readTemp));
        QCOMPARE(next.receive(8, 2000), reply250); // 8: the old reply ahead of it would show
        for (const char *noise : {"0103006400010000", "020300640001c5e6"}) {
            const qsizetype dropped = sim.logLines("garbage").size();
            QVERIFY(next.send(QByteArray::fromHex(noise)));
            QTRY_VERIFY_WITH_TIMEOUT(sim.logLines("garbage").size() > dropped, 5000);
        }
        QVERIFY(next.send(readTemp));
        QCOMPARE(next.receive(7, 5000), reply250);
        QCOMPARE(sim.stop(SIGINT), QString());
    }
};

} // namespace chamber

QTEST_GUILESS_MAIN(chamber::tst_chambersim)
#include "tst_chambersim.moc"
