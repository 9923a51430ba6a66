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
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable("mbpoll").isEmpty(), "run scripts/install-deps");
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("help after an option")
            << QStringList{"--rate", "1", "--help"} << 0 << "--bad-crc-every";
        QTest::newRow("unknown option")
            << QStringList{"--bogus"} << 2 << "unknown option '--bogus'";
        QTest::newRow("number with junk")
            << QStringList{"--ambient=20x"} << 2 << "bad value '20x' for --ambient";
    }
    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, text);
        SimProcess sim(args);
        QVERIFY(sim.process.waitForFinished(simStartMs));
        QCOMPARE(sim.process.exitCode(), code);
        const QString said = sim.process.readAllStandardOutput() + sim.log();
        QVERIFY2(said.contains(text), qPrintable(said));
    }

    void readWriteWithMbpoll()
    {
        SimProcess sim({"--rate", "50", "--ambient", "20"});
        QVERIFY(sim.waitReady());
        QCOMPARE(readRegister(sim.port(), 101), 200);
        mbpoll(sim.port(), 301, {"805"});
        QCOMPARE(readRegister(sim.port(), 301), 805);
        // The temperature follows the setpoint at 50 degrees per second; only it is writable.
        QTRY_COMPARE_WITH_TIMEOUT(readRegister(sim.port(), 101), 805, 10000);
        QVERIFY(mbpoll(sim.port(), 101, {"5"}).contains(QLatin1String("Illegal data address")));
        QCOMPARE(sim.stop(), QString());
        QVERIFY(!QFileInfo(sim.port()).isSymLink() && !QFileInfo::exists(sim.folder));
    }

    void faultsSeenByMbpoll()
    {
        SimProcess badCrc({"--bad-crc-every", "1"});
        SimProcess limited({"--max-setpoint", "100"});
        QVERIFY(badCrc.waitReady() && limited.waitReady());
        const QString crc = mbpoll(badCrc.port(), 101);
        QVERIFY2(crc.contains(QLatin1String("CRC")), qPrintable(crc));
        const QString high = mbpoll(limited.port(), 301, {"1500"});
        QVERIFY2(high.contains(QLatin1String("Illegal data value")), qPrintable(high));
        QCOMPARE(readRegister(limited.port(), 301), 230); // unchanged
        mbpoll(limited.port(), 301, {"1000"});            // the maximum itself is allowed
        QCOMPARE(readRegister(limited.port(), 301), 1000);
        QCOMPARE(badCrc.stop(), QString());
        QCOMPARE(limited.stop(), QString());
    }

    void rawBytes()
    {
        constexpr int splitMs = 300;
        SimProcess sim({"--ambient", "25", "--split-reply", QString::number(splitMs), "--log"});
        QVERIFY(sim.waitReady());
        {
            RawClient client(sim.port());
            QVERIFY(client.send(readTemp));
            const QDeadlineTimer gap(splitMs - 5); // from before the first piece is sent
            const QByteArray first = client.receive(1, 5000);
            if (gap.remainingTime() > 50) // else both pieces may have come before this read
                QCOMPARE(first, QByteArray::fromHex("010302"));
            QCOMPARE(first + client.receive(7 - first.size(), 5000), reply250);
            QVERIFY(gap.hasExpired());
            QVERIFY(client.send(readTemp)); // then leaves, with its reply unread
            QTRY_COMPARE_WITH_TIMEOUT(sim.logLines("tx ").size(), 2, 5000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(sim.logLines("close").size(), 1, 5000);
        for (int i = 0; i < 10; ++i) { // a port scan opens and closes at once
            const RawClient scan(sim.port());
        }
        RawClient next(sim.port());
        QVERIFY(next.send(readTemp));
        QCOMPARE(next.receive(8, 2000), reply250); // 8: the old reply ahead of it would show
        // A bad CRC, then another slave's request: each is dropped with whatever follows it.
        for (const char *noise : {"0103006400010000", "020300640001c5e6"}) {
            const qsizetype dropped = sim.logLines("garbage").size();
            QVERIFY(next.send(QByteArray::fromHex(noise)));
            QTRY_VERIFY_WITH_TIMEOUT(sim.logLines("garbage").size() > dropped, 5000);
        }
        QVERIFY(next.send(readTemp));
        QCOMPARE(next.receive(7, 5000), reply250);
        QCOMPARE(sim.stop(SIGINT), QString());
    }

    void silenceThenExit()
    {
        const QDeadlineTimer silent(1000), ended(2500); // before the simulator's own clock starts
        SimProcess sim({"--ambient", "25", "--silent-for", "1", "--exit-after", "2.5"});
        QVERIFY(sim.waitReady());
        RawClient client(sim.port());
        QVERIFY(client.send(readTemp));
        QCOMPARE(client.receive(1, 300), QByteArray());
        QVERIFY(client.send(QByteArray::fromHex("0106012c03e84941"))); // dropped, not applied
        QTRY_COMPARE_WITH_TIMEOUT(readRegister(sim.port(), 301), 250, 5000);
        QVERIFY(silent.hasExpired());
        QVERIFY(sim.process.waitForFinished(simStartMs));
        QVERIFY(ended.hasExpired());
        QCOMPARE(sim.stop(), QString());
        QVERIFY(!QFileInfo(sim.port()).isSymLink() && !QFileInfo::exists(sim.folder));
    }
};

} // namespace chamber

QTEST_GUILESS_MAIN(chamber::tst_chambersim)
#include "tst_chambersim.moc"
