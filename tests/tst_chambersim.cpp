// chamber-sim checked from outside: by mbpoll, a Modbus master we did not write, and by raw bytes.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace chamber {

namespace {

constexpr int startms = 10000;
constexpr int mbpollms = 15000;

QByteArray bytes(const char *hextext)
{
    return QByteArray::fromHex(hextext);
}

// The simulator as a child process; stopped and reaped when the test leaves its scope.
class Sim
{
public:
    explicit Sim(const QStringList &args)
    {
        launched.start();
        process.start(QStringLiteral(CHAMBER_SIM), args);
    }
    ~Sim() { stop(SIGTERM); }

    // Waits for the CHAMBERCTL_PORTS line; false if the simulator ended first or never said it.
    bool waitready()
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < startms) {
            process.waitForReadyRead(50);
            out += process.readAllStandardOutput();
            const qsizetype newline = out.indexOf('\n');
            if (newline >= 0) {
                const QByteArray line = out.left(newline);
                if (!line.startsWith("CHAMBERCTL_PORTS="))
                    return false;
                folder = QString::fromLocal8Bit(line.mid(int(qstrlen("CHAMBERCTL_PORTS="))));
                ready.start();
                return true;
            }
            if (process.state() == QProcess::NotRunning)
                return false;
        }
        return false;
    }

    QString port(const QString &name = QStringLiteral("COM1")) const
    {
        return folder + QLatin1Char('/') + name;
    }

    // What the simulator logged so far; complete once it has been stopped.
    QString log()
    {
        QCoreApplication::processEvents();
        err += process.readAllStandardError();
        return QString::fromLocal8Bit(err);
    }

    QStringList loglines(const QString &prefix)
    {
        QStringList lines;
        for (const QString &line : log().split(QLatin1Char('\n'))) {
            if (line.startsWith(prefix))
                lines << line;
        }
        return lines;
    }

    // Sends the signal and waits; the exit code, or -1 if it did not end normally.
    int stop(int signal = SIGTERM)
    {
        const qint64 pid = process.processId();
        if (process.state() != QProcess::NotRunning && pid > 0) { // kill(0) hits the group
            ::kill(pid_t(pid), signal);
            if (!process.waitForFinished(startms)) {
                process.kill();
                process.waitForFinished(startms);
                return -1;
            }
        }
        out += process.readAllStandardOutput();
        log();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // Empty when the simulator ended cleanly on the signal; else its exit and its log, which
    // also holds any sanitizer report.
    QString stopreport(int signal = SIGTERM)
    {
        const int code = stop(signal);
        return code == 0 ? QString() : QStringLiteral("exit %1:\n%2").arg(code).arg(log());
    }

    QProcess process;
    QByteArray out;
    QByteArray err;
    QString folder;
    QElapsedTimer launched; // started before the simulator's own clock: a safe lower bound
    QElapsedTimer ready;    // started after it: a safe upper bound
};

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

Run runmbpoll(const QStringList &args)
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QStringLiteral("mbpoll")), args);
    Run run;
    if (!p.waitForFinished(mbpollms)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(p.readAllStandardError());
    return run;
}

// 9600 8N1, slave 1, holding registers, one poll. mbpoll counts references from 1 unless
// given -0, so register 100 is reference 101.
QStringList mbpollargs(const QString &port, const QStringList &more)
{
    return QStringList{"-m", "rtu", "-a", "1", "-b", "9600", "-P", "none",
                       "-d", "8",   "-s", "1", "-t", "4",    "-1"} +
           more + QStringList{port};
}

// The value mbpoll printed for the reference, unsigned as it prints it first; -1 on failure.
int readregister(const QString &port, int reference, bool zerobased = false)
{
    QStringList more{"-r", QString::number(reference)};
    if (zerobased)
        more.prepend("-0");
    const Run run = runmbpoll(mbpollargs(port, more));
    const QRegularExpression value(QStringLiteral("^\\[%1\\]:\\s+(\\d+)").arg(reference),
                                   QRegularExpression::MultilineOption);
    const auto match = value.match(run.out);
    if (run.code != 0 || !match.hasMatch())
        return -1;
    return match.captured(1).toInt();
}

Run writeregister(const QString &port, int reference, int value)
{
    return runmbpoll(mbpollargs(port, {"-r", QString::number(reference)})
                     << QString::number(value));
}

// A client that opens the port through the link and speaks raw bytes.
class RawClient
{
public:
    explicit RawClient(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
    }
    ~RawClient() { close(); }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    bool isopen() const { return fd >= 0; }
    bool send(const QByteArray &frame)
    {
        return ::write(fd, frame.constData(), size_t(frame.size())) == frame.size();
    }
    // Whatever arrives until count bytes are in or the time is up.
    QByteArray receive(int count, int timeoutms)
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < count && clock.elapsed() < timeoutms) {
            got += readsome(int(timeoutms - clock.elapsed()));
        }
        return got;
    }
    // One read of what is there, after waiting up to timeoutms for anything.
    QByteArray readsome(int timeoutms)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, std::max(timeoutms, 0)) <= 0)
            return {};
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
    }
    // Sends the request again until a reply of count bytes comes back (a lost reply is retried).
    QByteArray exchange(const QByteArray &request, int count, int deadlinems = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < deadlinems) {
            send(request);
            const QByteArray reply = receive(count, 1000);
            if (reply.size() >= count)
                return reply;
        }
        return {};
    }

private:
    int fd = -1;
};

const QByteArray readtemp = bytes("010300640001c5d5");
const QByteArray reply250 = bytes("01030200fa3807"); // 25.0 degrees

} // namespace

class tst_chambersim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void help();
    void badoptions_data();
    void badoptions();
    void readwritewithmbpoll();
    void faultsseenbymbpoll();
    void rawframes();
    void splitreplies();
    void garbageandreconnects();
    void silence();
    void noise();
    void lifecycle();
};

void tst_chambersim::initTestCase()
{
    QVERIFY2(QFileInfo(QStringLiteral(CHAMBER_SIM)).isExecutable(), CHAMBER_SIM);
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("mbpoll")).isEmpty(),
             "mbpoll is not installed: run scripts/install-deps");
}

void tst_chambersim::help()
{
    // Help explains every option and succeeds, whatever came before it.
    Sim help({"--rate", "1", "--help"});
    QVERIFY(help.process.waitForFinished(startms));
    QCOMPARE(help.process.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.process.readAllStandardOutput());
    for (const char *option :
         {"--name", "--ports-dir", "--rate", "--ambient", "--noise", "--seed", "--bad-crc-every",
          "--max-setpoint", "--split-reply", "--silent-after", "--silent-for", "--exit-after",
          "--log", "--help", "CHAMBERCTL_PORTS=", "setpoint <v>"})
        QVERIFY2(text.contains(QLatin1String(option)), option);
}

void tst_chambersim::badoptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "unknown option '--bogus'";
    QTest::newRow("missing value") << QStringList{"--rate"} << "option --rate needs a value";
    QTest::newRow("bad number") << QStringList{"--rate", "fast"} << "bad value 'fast' for --rate";
    QTest::newRow("number with junk") << QStringList{"--ambient=20x"} << "for --ambient";
    QTest::newRow("negative noise") << QStringList{"--noise", "-1"} << "for --noise";
    QTest::newRow("zero crc period") << QStringList{"--bad-crc-every", "0"} << "--bad-crc-every";
    QTest::newRow("fractional split") << QStringList{"--split-reply", "1.5"} << "--split-reply";
    QTest::newRow("name not COMn") << QStringList{"--name", "ttyS0"} << "expected COM1 to COM99";
    QTest::newRow("COM100") << QStringList{"--name", "COM100"} << "expected COM1 to COM99";
    QTest::newRow("stray argument") << QStringList{"COM1"} << "unexpected argument 'COM1'";
    QTest::newRow("value on a flag") << QStringList{"--log=yes"} << "takes no value";
}

void tst_chambersim::badoptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);

    Sim sim(args);
    QVERIFY(sim.process.waitForFinished(startms));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 2);
    QVERIFY2(sim.log().contains(message), qPrintable(sim.log()));
    QVERIFY(sim.process.readAllStandardOutput().isEmpty());
}

void tst_chambersim::readwritewithmbpoll()
{
    Sim sim({"--rate", "50", "--ambient", "20", "--log"});
    QVERIFY(sim.waitready());
    const QString port = sim.port();
    QVERIFY(QFileInfo(port).isSymLink());

    QCOMPARE(readregister(port, 101), 200);
    QCOMPARE(readregister(port, 300, true), 200); // the setpoint starts at the ambient
    QCOMPARE(readregister(port, 1), 0);           // other registers of the map read as 0

    const Run write = writeregister(port, 301, 805);
    QVERIFY2(write.code == 0, qPrintable(write.err));
    QCOMPARE(readregister(port, 301), 805);

    // 60.5 degrees at 50 per second: it moves, stays between start and setpoint, then arrives.
    QTRY_VERIFY_WITH_TIMEOUT(readregister(port, 101) > 200, 10000);
    const int moving = readregister(port, 101);
    QVERIFY2(moving > 200 && moving <= 805, qPrintable(QString::number(moving)));
    QTRY_COMPARE_WITH_TIMEOUT(readregister(port, 101), 805, 10000);

    QVERIFY(writeregister(port, 301, 250).code == 0);
    QTRY_COMPARE_WITH_TIMEOUT(readregister(port, 101), 250, 10000);

    // Only the setpoint is writable; the refusal reaches mbpoll as an exception.
    const Run refused = writeregister(port, 101, 5);
    QVERIFY(refused.code != 0);
    QVERIFY2(refused.err.contains(QLatin1String("Illegal data address")), qPrintable(refused.err));
    QCOMPARE(readregister(port, 301), 250);

    // A broadcast (address 0) setpoint of 100.0 is applied, and nobody answers it.
    {
        RawClient client(port);
        QVERIFY(client.send(bytes("0006012c03e84890")));
        QCOMPARE(client.receive(1, 300), QByteArray());
    }
    QCOMPARE(readregister(port, 301), 1000);

    QCOMPARE(sim.stopreport(SIGTERM), QString());
    QCOMPARE(sim.loglines("setpoint "),
             QStringList({"setpoint 805", "setpoint 250", "setpoint 1000"}));
    QVERIFY(sim.loglines("write ").contains("write 300 = 805"));
    QVERIFY(sim.loglines("write ").contains("write 100 = 5"));
    QVERIFY(sim.loglines("read 100 = ").contains("read 100 = 805"));
    QCOMPARE(sim.loglines("end"), QStringList{"end"});
    QCOMPARE(sim.out, QByteArray("CHAMBERCTL_PORTS=") + QFile::encodeName(sim.folder) + '\n');
    QVERIFY(!QFileInfo::exists(port) && !QFileInfo(port).isSymLink());
    QVERIFY(!QFileInfo::exists(sim.folder));
}

void tst_chambersim::faultsseenbymbpoll()
{
    {
        Sim sim({"--bad-crc-every", "1"});
        QVERIFY(sim.waitready());
        const Run run = runmbpoll(mbpollargs(sim.port(), {"-r", "101"}));
        QVERIFY(run.code != 0);
        QVERIFY2(run.err.contains(QLatin1String("CRC")), qPrintable(run.err + run.out));
        QCOMPARE(sim.stopreport(), QString());
    }
    {
        Sim sim({"--max-setpoint", "100", "--log"});
        QVERIFY(sim.waitready());
        const Run high = writeregister(sim.port(), 301, 1500);
        QVERIFY(high.code != 0);
        QVERIFY2(high.err.contains(QLatin1String("Illegal data value")), qPrintable(high.err));
        QCOMPARE(readregister(sim.port(), 301), 230); // unchanged

        const Run limit = writeregister(sim.port(), 301, 1000); // exactly the maximum is fine
        QVERIFY2(limit.code == 0, qPrintable(limit.err));
        QCOMPARE(readregister(sim.port(), 301), 1000);
        QCOMPARE(sim.stopreport(), QString());
        QCOMPARE(sim.loglines("setpoint "), QStringList{"setpoint 1000"});
        QCOMPARE(sim.loglines("refused ").size(), 1);
    }
}

void tst_chambersim::rawframes()
{
    Sim sim({"--ambient", "25", "--bad-crc-every", "3", "--max-setpoint", "100"});
    QVERIFY(sim.waitready());
    RawClient client(sim.port());
    QVERIFY(client.isopen());

    QVERIFY(client.send(readtemp));
    QCOMPARE(client.receive(7, 5000), reply250);

    // The echo of a setpoint write is the request itself.
    const QByteArray set250 = bytes("0106012c00fac9bc");
    QVERIFY(client.send(set250));
    QCOMPARE(client.receive(8, 5000), set250);

    // Third reply: same bytes, CRC corrupted; the fourth is good again.
    QVERIFY(client.send(readtemp));
    const QByteArray bad = client.receive(7, 5000);
    QCOMPARE(bad.size(), 7);
    QCOMPARE(bad.left(5), reply250.left(5));
    QVERIFY(bad.right(2) != reply250.right(2));
    QVERIFY(client.send(readtemp));
    QCOMPARE(client.receive(7, 5000), reply250);

    // 150.0 degrees above --max-setpoint 100: exception 03, illegal data value.
    QVERIFY(client.send(bytes("0106012c05dc4b36")));
    QCOMPARE(client.receive(5, 5000), bytes("0186030261"));
    QCOMPARE(sim.stopreport(), QString());
}

void tst_chambersim::splitreplies()
{
    constexpr int splitms = 400;
    Sim sim({"--ambient", "25", "--split-reply", QString::number(splitms), "--log"});
    QVERIFY(sim.waitready());
    {
        RawClient client(sim.port());
        QVERIFY(client.send(readtemp));
        QElapsedTimer sincerequest;
        sincerequest.start();
        const QByteArray first = client.readsome(5000);
        if (sincerequest.elapsed() < splitms - 50)
            QCOMPARE(first, bytes("010302"));
        const QByteArray all = first + client.receive(7 - int(first.size()), 5000);
        QCOMPARE(all, reply250);
        QVERIFY2(sincerequest.elapsed() >= splitms - 5,
                 qPrintable(QString::number(sincerequest.elapsed())));
    }
    {
        // A client that leaves after the first piece: the rest must not reach the next one.
        RawClient leaver(sim.port());
        QVERIFY(leaver.send(readtemp));
        QCOMPARE(leaver.readsome(5000), bytes("010302"));
        leaver.close();
        QTRY_VERIFY_WITH_TIMEOUT(!sim.loglines("dropped ").isEmpty(), 5000);

        RawClient next(sim.port());
        QVERIFY(next.send(readtemp));
        QCOMPARE(next.receive(7, 5000), reply250);
    }
    // Split replies still pass a real master, whose byte timeout is longer than the gap.
    Sim quick({"--ambient", "25", "--split-reply", "50"});
    QVERIFY(quick.waitready());
    QCOMPARE(readregister(quick.port(), 101), 250);
    QCOMPARE(quick.stopreport(), QString());
    QCOMPARE(sim.stopreport(), QString());
}

void tst_chambersim::garbageandreconnects()
{
    Sim sim({"--ambient", "25", "--log"});
    QVERIFY(sim.waitready());

    // A port scan: opened and closed in quick succession, some with a stray byte.
    for (int i = 0; i < 20; ++i) {
        RawClient scan(sim.port());
        QVERIFY(scan.isopen());
        if (i % 4 == 0)
            scan.send(bytes("01"));
    }
    {
        RawClient client(sim.port());
        QVERIFY(client.send(bytes("ff0012676172626167650d0a")));
        QCOMPARE(client.exchange(readtemp, 7), reply250);

        // Noise with a valid address but a bad CRC, then a frame for another slave.
        QVERIFY(client.send(bytes("0103006400010000")));
        QCOMPARE(client.exchange(readtemp, 7), reply250);
        QVERIFY(client.send(bytes("020300640001c5e6")));
        QCOMPARE(client.receive(1, 300), QByteArray());
        QCOMPARE(client.exchange(readtemp, 7), reply250);
    }
    {
        // A reply its client never read must not greet the next client.
        RawClient leaver(sim.port());
        QVERIFY(leaver.send(bytes("0106012c00fac9bc")));
        QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QLatin1String("tx 01 06 01 2C 00 FA C9 BC")),
                                 5000);
        const qsizetype closes = sim.loglines("close").size();
        leaver.close();
        QTRY_COMPARE_WITH_TIMEOUT(sim.loglines("close").size(), closes + 1, 5000);
    }
    {
        RawClient next(sim.port());
        QVERIFY(next.send(readtemp));
        QCOMPARE(next.receive(7, 5000), reply250);
        QCOMPARE(next.receive(1, 100), QByteArray());
    }
    QVERIFY(sim.process.state() == QProcess::Running);
    QCOMPARE(readregister(sim.port(), 101), 250);
    QCOMPARE(sim.stopreport(SIGINT), QString());
    QVERIFY(!sim.loglines("garbage ").isEmpty());
    QVERIFY(!sim.loglines("ignored ").isEmpty());
}

void tst_chambersim::silence()
{
    constexpr double silentseconds = 1.5;
    Sim sim({"--ambient", "25", "--silent-for", QString::number(silentseconds), "--log"});
    QVERIFY(sim.waitready());
    RawClient client(sim.port());
    QVERIFY(client.send(readtemp));
    QCOMPARE(client.receive(1, 300), QByteArray());
    // Writes made while silent are dropped, not applied.
    QVERIFY(client.send(bytes("0106012c03e84941")));
    QCOMPARE(client.receive(1, 300), QByteArray());

    QCOMPARE(client.exchange(readtemp, 7, 10000), reply250);
    QVERIFY(sim.launched.elapsed() >= qint64(silentseconds * 1000));
    QCOMPARE(readregister(sim.port(), 301), 250);
    QCOMPARE(sim.stopreport(), QString());
    QVERIFY(sim.loglines("silent").size() >= 2);
    QVERIFY(sim.loglines("setpoint ").isEmpty());
}

void tst_chambersim::noise()
{
    Sim sim({"--ambient", "25", "--rate", "0", "--noise", "1", "--seed", "7"});
    QVERIFY(sim.waitready());
    RawClient client(sim.port());
    QSet<int> seen;
    for (int i = 0; i < 8; ++i) {
        QVERIFY(client.send(readtemp));
        const QByteArray reply = client.receive(7, 5000);
        QCOMPARE(reply.size(), 7);
        const int tenths = qint16((quint8(reply[3]) << 8) | quint8(reply[4]));
        QVERIFY2(tenths >= 240 && tenths <= 260, qPrintable(QString::number(tenths)));
        seen.insert(tenths);
    }
    QVERIFY(seen.size() > 1);
    QCOMPARE(sim.stopreport(), QString());
}

void tst_chambersim::lifecycle()
{
    {
        Sim sim({"--exit-after", "1"});
        QVERIFY(sim.waitready());
        const QString port = sim.port();
        QVERIFY(QFileInfo(port).isSymLink());
        QVERIFY(sim.process.waitForFinished(startms));
        QCOMPARE(sim.process.exitCode(), 0);
        QVERIFY2(sim.launched.elapsed() >= 1000,
                 qPrintable(QString::number(sim.launched.elapsed())));
        QVERIFY2(sim.ready.elapsed() < 5000, qPrintable(QString::number(sim.ready.elapsed())));
        QVERIFY(!QFileInfo(port).isSymLink());
        QVERIFY(!QFileInfo::exists(sim.folder));
    }

    // A given folder is shared: two simulators side by side, and the folder stays.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    {
        Sim com1({"--ports-dir", dir.path()});
        Sim com7({"--ports-dir", dir.path(), "--name", "COM7"});
        QVERIFY(com1.waitready());
        QVERIFY(com7.waitready());
        QCOMPARE(com1.folder, folder);
        QCOMPARE(com7.folder, folder);
        QVERIFY(QFileInfo(com1.port()).isSymLink());
        QVERIFY(QFileInfo(com7.port("COM7")).isSymLink());
        QCOMPARE(readregister(com7.port("COM7"), 101), 230);

        // The name is taken while its simulator lives.
        Sim again({"--ports-dir", dir.path()});
        QVERIFY(again.process.waitForFinished(startms));
        QCOMPARE(again.process.exitCode(), 1);
        QVERIFY(again.log().contains(QLatin1String("already exists")));
        QVERIFY(QFileInfo(com1.port()).isSymLink());

        QCOMPARE(com1.stopreport(SIGINT), QString());
        QVERIFY(!QFileInfo(com1.port()).isSymLink());
        QVERIFY(QFileInfo(com7.port("COM7")).isSymLink());
        QCOMPARE(com7.stopreport(SIGTERM), QString());
        QVERIFY(QDir(folder).isEmpty());
    }

    // A link left by a killed simulator points nowhere and is taken over.
    QVERIFY(QFile::link(folder + "/gone", folder + "/COM2"));
    {
        Sim sim({"--ports-dir", folder, "--name", "COM2"});
        QVERIFY(sim.waitready());
        QCOMPARE(readregister(sim.port("COM2"), 101), 230);
        QCOMPARE(sim.stopreport(SIGHUP), QString());
        QVERIFY(!QFileInfo(sim.port("COM2")).isSymLink());
    }

    // A folder made here for the link is removed at the end.
    const QString made = folder + "/made";
    {
        Sim sim({"--ports-dir", made, "--exit-after", "0.2"});
        QVERIFY(sim.waitready());
        QCOMPARE(sim.folder, made);
        QVERIFY(sim.process.waitForFinished(startms));
        QCOMPARE(sim.process.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(made));
    }
}

} // namespace chamber

QTEST_GUILESS_MAIN(chamber::tst_chambersim)
#include "tst_chambersim.moc"
