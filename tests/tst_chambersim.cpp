// chamber-sim checked from outside, by mbpoll, a Modbus master we did not write.
#include "support/simprocess.h"

#include <QSerialPort>
#include <QtTest>

#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace chamber {

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

class tst_chambersim : public QObject
{
    Q_OBJECT
private slots:
    // mbpoll reads and writes the registers and sees the faults the simulator is told to make.
    void mbpollCrossCheck()
    {
        SimProcess sim({"--rate", "50", "--ambient", "20"});
        SimProcess badCrc({"--bad-crc-every", "1"});
        SimProcess limited({"--max-setpoint", "100", "--log"});
        // A chamber that stops short of its setpoints, and readings off by -3.5 for 5 s.
        SimProcess settling({"--rate", "50", "--ambient", "20", "--settle-short", "0.5"});
        SimProcess disturbed({"--ambient", "20", "--disturb-by", "-3.5", "--disturb-for", "5"});
        QVERIFY(disturbed.waitReady());
        QCOMPARE(readRegister(disturbed.port(), 101), 165);
        QVERIFY(sim.waitReady() && badCrc.waitReady() && limited.waitReady() &&
                settling.waitReady());
        // A reply left unread when its client closes the port is not handed to the next client,
        // and a port scan's quick opens and closes go by.
        const int fd = ::open(QFile::encodeName(limited.port()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0 && ::write(fd, "\x01\x03\x00\x64\x00\x01\xc5\xd5", 8) == 8);
        QTRY_COMPARE_WITH_TIMEOUT(limited.logLines("tx ").size(), 1, 5000);
        ::close(fd);
        QTRY_COMPARE_WITH_TIMEOUT(limited.logLines("close").size(), 1, 5000);
        for (int i = 0; i < 10; ++i)
            QVERIFY(QSerialPort(limited.port()).open(QIODevice::ReadWrite));
        QSerialPort next(limited.port());
        const QByteArray setpoint = QByteArray::fromHex("0106012c00fac9bc"); // 25.0, echoed
        QVERIFY(next.open(QIODevice::ReadWrite) && next.write(setpoint) == 8);
        QTRY_VERIFY_WITH_TIMEOUT(next.bytesAvailable() >= 8, 5000);
        QCOMPARE(next.read(8).toHex(' '), setpoint.toHex(' '));

        QCOMPARE(readRegister(sim.port(), 101), 200);
        mbpoll(sim.port(), 301, {"805"});
        QCOMPARE(readRegister(sim.port(), 301), 805);
        // The temperature follows the setpoint at 50 degrees per second.
        QTRY_COMPARE_WITH_TIMEOUT(readRegister(sim.port(), 101), 805, 10000);
        const QString crc = mbpoll(badCrc.port(), 101);
        QVERIFY2(crc.contains(QLatin1String("CRC")), qPrintable(crc));
        const QString high = mbpoll(limited.port(), 301, {"1500"});
        QVERIFY2(high.contains(QLatin1String("Illegal data value")), qPrintable(high));
        QCOMPARE(readRegister(limited.port(), 301), 250); // unchanged
        mbpoll(limited.port(), 301, {"1000"});            // the maximum itself is allowed
        QCOMPARE(readRegister(limited.port(), 301), 1000);
        mbpoll(settling.port(), 301, {"805"});
        QTRY_COMPARE_WITH_TIMEOUT(readRegister(settling.port(), 101), 800, 10000);
        mbpoll(settling.port(), 301, {"200"});
        QTRY_COMPARE_WITH_TIMEOUT(readRegister(settling.port(), 101), 205, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(readRegister(disturbed.port(), 101), 200, 10000);
        // a disturbance with no size would do nothing at all, so it is refused
        SimProcess sizeless({"--disturb-for", "5"});
        QVERIFY(sizeless.process.waitForFinished(simStartMs));
        QCOMPARE(sizeless.process.exitCode(), 2);
        QVERIFY(sizeless.log().contains("--disturb-by"));
        for (SimProcess *each : {&sim, &badCrc, &limited, &settling, &disturbed})
            QCOMPARE(each->stop(), QString());
        QVERIFY(!QFileInfo(sim.port()).isSymLink() && !QFileInfo::exists(sim.folder));
    }

    // A simulator killed outright leaves its link behind: the next one on the folder replaces
    // it, even once the terminal it pointed at has gone to another program; the name of a
    // simulator that is running is refused.
    void linkLeftBehind()
    {
        QTemporaryDir folder;
        const QStringList args = {"--ports-dir", folder.path()};
        SimProcess killed(args);
        QVERIFY(killed.waitReady());
        const QString terminal = QFileInfo(killed.port()).symLinkTarget();
        killed.process.kill();
        QVERIFY(killed.process.waitForFinished(simStartMs));
        // terminals are numbered from the lowest free one, so the dead one's number comes back
        QList<int> held;
        while (!QFileInfo::exists(terminal) && held.size() < 64)
            held << ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(QFileInfo::exists(terminal));

        SimProcess next(args);
        const bool started = next.waitReady();
        for (const int fd : held)
            ::close(fd);
        QVERIFY(started && QFileInfo(next.port()).symLinkTarget() != terminal);
        QProcess second;
        second.start(QStringLiteral(CHAMBER_SIM), args);
        QVERIFY(second.waitForFinished(simStartMs));
        const QString said = second.readAllStandardError();
        QVERIFY2(second.exitCode() == 1 && said.contains("another simulator that is running"),
                 qPrintable(said));
        QCOMPARE(next.stop(), QString());
        QVERIFY(
            QDir(folder.path())
                .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    }
};

} // namespace chamber

QTEST_GUILESS_MAIN(chamber::tst_chambersim)
#include "tst_chambersim.moc"
