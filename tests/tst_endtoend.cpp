// chamberctl end to end: the window, the real serial link and chamber-sim over a pseudo-terminal.
#include "link/qtseriallink.h"
#include "main/main.h"
#include "support/alertcloser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <memory>

#include <sys/resource.h>

using namespace chamber;

namespace {

// Generous for a sanitizer build on a busy machine; the conditions come true much sooner.
constexpr int startms = 15000;
constexpr int settlems = 10000;
constexpr int runms = 90000;

const QColor white(255, 255, 255);

// As the simulator logs a request or a reply: upper-case hex, one blank between bytes.
const QString readtemprequest = QStringLiteral("rx 01 03 00 64 00 01 C5 D5");
const QString readtempreply = QStringLiteral("tx 01 03 02 ");

// The simulator as a child process, with its log read as it comes: a simulator whose log pipe
// fills up stops answering. Stopped and reaped when it leaves scope.
class Sim
{
public:
    explicit Sim(const QStringList &args)
    {
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { err += process.readAllStandardError(); });
        process.start(QStringLiteral(CHAMBER_SIM), args + QStringList{"--log"});
    }
    ~Sim() { stop(); }

    // Waits for the CHAMBERCTL_PORTS line; false if the simulator ended first or never said it.
    bool waitready()
    {
        QElapsedTimer clock;
        clock.start();
        while (!clock.hasExpired(startms)) {
            process.waitForReadyRead(50);
            out += process.readAllStandardOutput();
            const qsizetype newline = out.indexOf('\n');
            if (newline >= 0) {
                const QByteArray line = out.left(newline);
                if (!line.startsWith("CHAMBERCTL_PORTS="))
                    return false;
                folder = QFile::decodeName(line.mid(qsizetype(qstrlen("CHAMBERCTL_PORTS="))));
                return true;
            }
            if (process.state() == QProcess::NotRunning)
                return false;
        }
        return false;
    }

    // Every log line so far that begins with prefix.
    QStringList loglines(const QString &prefix)
    {
        err += process.readAllStandardError();
        QStringList lines;
        for (const QString &line : QString::fromLocal8Bit(err).split(QLatin1Char('\n'))) {
            if (line.startsWith(prefix))
                lines << line;
        }
        return lines;
    }
    int count(const QString &prefix) { return int(loglines(prefix).size()); }

    // Ends the simulator with SIGTERM; empty when it ended cleanly (also after --exit-after),
    // else its exit and its whole log, which also holds any sanitizer report.
    QString stop()
    {
        const qint64 pid = process.processId();
        if (process.state() != QProcess::NotRunning && pid > 0) {
            ::kill(pid_t(pid), SIGTERM);
            if (!process.waitForFinished(startms)) {
                process.kill();
                process.waitForFinished(startms);
                return QStringLiteral("did not end on SIGTERM");
            }
        }
        err += process.readAllStandardError();
        if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
            return {};
        return QStringLiteral("exit %1:\n%2")
            .arg(process.exitCode())
            .arg(QString::fromLocal8Bit(err));
    }

    QProcess process;
    QByteArray out;
    QByteArray err;
    QString folder;
};

// The real link, counting the frames the window hands it, so that a test can tell that nothing
// more is even attempted once the port is gone.
class CountingLink : public QtSerialLink
{
public:
    void SendData(const QByteArray &frame) override
    {
        ++sends;
        QtSerialLink::SendData(frame);
    }
    int sends = 0;
};

template<typename T> T *control(const QWidget &window, const QString &name)
{
    T *found = window.findChild<T *>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

// A simulator, and the window talking to it through COM1 with its own 250 ms timer running.
class Rig
{
public:
    explicit Rig(const QStringList &simargs)
        : sim(simargs)
    {}
    ~Rig()
    {
        window.reset(); // before the link it points to
        qunsetenv("CHAMBERCTL_PORTS");
    }

    // Loads and shows the window as the program's start does, then chooses COM1.
    bool start()
    {
        if (!sim.waitready())
            return false;
        qputenv("CHAMBERCTL_PORTS", QFile::encodeName(sim.folder));
        window = std::make_unique<chamber::main>(&link);
        window->Form_Load();
        window->show();
        const int com1 = ports()->findText(QStringLiteral("COM1"));
        if (com1 <= 0)
            return false;
        ports()->setCurrentIndex(com1);
        return box("cyclerun")->isEnabled();
    }

    // Closes the port as the operator would, then ends the simulator: its log is then whole.
    QString finish()
    {
        ports()->setCurrentIndex(0);
        return sim.stop();
    }

    QComboBox *ports() { return control<QComboBox>(*window, QStringLiteral("portselect")); }
    QLineEdit *field(const QString &name) { return control<QLineEdit>(*window, name); }
    QCheckBox *box(const QString &name) { return control<QCheckBox>(*window, name); }
    QPushButton *button(int index)
    {
        return control<QPushButton>(*window, QStringLiteral("Command1(%1)").arg(index));
    }
    QString text(const QString &name) { return field(name)->text(); }

    void settemp(const QString &value)
    {
        field(QStringLiteral("setpoint"))->setText(value);
        QTest::mouseClick(button(0), Qt::LeftButton);
    }

    Sim sim;
    CountingLink link;
    std::unique_ptr<chamber::main> window;
};

// The texts a field took, each change once, in order.
QStringList changes(const QSignalSpy &spy)
{
    QStringList texts;
    for (const QList<QVariant> &arguments : spy) {
        const QString text = arguments.at(0).toString();
        if (texts.isEmpty() || texts.last() != text)
            texts << text;
    }
    return texts;
}

// The displayed text of each temperature the simulator reported ("read 100 = 253" is 25.3).
QStringList reportedtemperatures(Sim &sim)
{
    QStringList texts;
    for (const QString &line : sim.loglines(QStringLiteral("read 100 = "))) {
        const int tenths = line.section(QLatin1Char(' '), 3, 3).toInt();
        texts << QStringLiteral("%1%2.%3")
                     .arg(tenths < 0 ? "-" : "")
                     .arg(qAbs(tenths) / 10)
                     .arg(qAbs(tenths) % 10);
    }
    return texts;
}

qint64 cpumilliseconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (qint64(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000 +
           (qint64(usage.ru_utime.tv_usec) + usage.ru_stime.tv_usec) / 1000;
}

} // namespace

class tst_endtoend : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void autoreading();
    void wholerun();
    void badchecksums();
    void refusedsetpoint();
    void controllervanishes();
    void splitreplies();
};

void tst_endtoend::initTestCase()
{
    QVERIFY2(QFileInfo(QStringLiteral(CHAMBER_SIM)).isExecutable(), CHAMBER_SIM);
}

void tst_endtoend::autoreading()
{
    Rig rig({"--rate", "20", "--ambient", "20"});
    QVERIFY(rig.start());
    QLineEdit *temperature = rig.field(QStringLiteral("currenttemp"));
    QSignalSpy shown(temperature, &QLineEdit::textChanged);

    rig.box(QStringLiteral("autoread"))->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("20.0"), 2000);

    // Polled once a tick: the simulator sees about four requests a second.
    QElapsedTimer clock;
    clock.start();
    const int before = rig.sim.count(readtemprequest);

    rig.settemp(QStringLiteral("60.0"));
    QTRY_VERIFY_WITH_TIMEOUT(temperature->text().toDouble() > 20.0, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("60.0"), settlems);
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.count(readtemprequest) - before >= 12, settlems);
    const qint64 elapsed = clock.elapsed();
    const int polls = rig.sim.count(readtemprequest) - before;
    // 250 ms apart, with room for a timer that fires a little early or a busy machine
    QVERIFY2(elapsed >= (polls - 1) * 225 && elapsed <= polls * 500,
             qPrintable(QStringLiteral("%1 polls in %2 ms").arg(polls).arg(elapsed)));

    // The display climbed through the model's readings on the way, each one as reported.
    const QStringList seen = changes(shown);
    QVERIFY2(seen.size() >= 1 + 5, qPrintable(seen.join(' ')));
    for (qsizetype i = 1; i < seen.size(); ++i)
        QVERIFY2(seen[i].toDouble() > seen[i - 1].toDouble(), qPrintable(seen.join(' ')));
    const QStringList reported = reportedtemperatures(rig.sim);
    for (const QString &text : seen)
        QVERIFY2(reported.contains(text), qPrintable(text));
    QCOMPARE(rig.text(QStringLiteral("errorcount")), QStringLiteral("0"));

    rig.box(QStringLiteral("autoread"))->setChecked(false);
    QCOMPARE(rig.finish(), QString());
    QCOMPARE(rig.sim.loglines(QStringLiteral("setpoint ")), QStringList{"setpoint 600"});
    // every frame the program sent was whole and valid
    QVERIFY2(rig.sim.loglines(QStringLiteral("garbage")).isEmpty(), rig.sim.err.constData());
    QVERIFY2(rig.sim.loglines(QStringLiteral("refused")).isEmpty(), rig.sim.err.constData());
    QVERIFY2(rig.sim.loglines(QStringLiteral("dropped")).isEmpty(), rig.sim.err.constData());
}

void tst_endtoend::wholerun()
{
    Rig rig({"--rate", "100", "--ambient", "25"});
    QVERIFY(rig.start());
    const QStringList points{"40.0", "30.0", "35.0"};
    for (int i = 0; i < 3; ++i) {
        rig.field(QStringLiteral("setpoints(%1)").arg(i))->setText(points[i]);
        rig.field(QStringLiteral("dwells(%1)").arg(i))->setText(QStringLiteral("1"));
    }
    rig.field(QStringLiteral("cycles(0)"))->setText(QStringLiteral("2"));
    rig.box(QStringLiteral("rampenable(0)"))->setChecked(true);
    QCheckBox *run = rig.box(QStringLiteral("cyclerun"));
    QLineEdit *mode = rig.field(QStringLiteral("cyclemode"));
    QSignalSpy modes(mode, &QLineEdit::textChanged);
    QSignalSpy counted(rig.field(QStringLiteral("cycles(1)")), &QLineEdit::textChanged);

    run->click();
    QVERIFY(run->isChecked());
    QVERIFY(!rig.ports()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!run->isChecked(), runms);

    // Two cycles of heat, cool and heat again, each reached and held, then the rest.
    QCOMPARE(changes(modes), QStringList({"Heat", "Wait", "Cool", "Wait", "Heat", "Wait", "Heat",
                                          "Wait", "Cool", "Wait", "Heat", "Wait", "Hold"}));
    QCOMPARE(changes(counted), QStringList({"1", "2"}));
    QCOMPARE(mode->text(), QStringLiteral("Hold"));
    QCOMPARE(mode->palette().color(QPalette::Base), white);
    QCOMPARE(rig.text(QStringLiteral("cycles(1)")), QStringLiteral("2"));
    QCOMPARE(rig.text(QStringLiteral("countdown")), QStringLiteral("0"));
    QCOMPARE(rig.text(QStringLiteral("errorcount")), QStringLiteral("0"));
    QVERIFY(rig.button(0)->isEnabled());
    QVERIFY(rig.ports()->isEnabled());
    QVERIFY(!rig.field(QStringLiteral("setpoints(0)"))->isReadOnly());

    QCOMPARE(rig.finish(), QString());
    // The profile's setpoints in order, then the rest setpoint of 25.0 twice: the last step
    // clears the Run box, whose handler ends the run, and then ends it once more itself.
    QCOMPARE(rig.sim.loglines(QStringLiteral("setpoint ")),
             QStringList({"setpoint 400", "setpoint 300", "setpoint 350", "setpoint 400",
                          "setpoint 300", "setpoint 350", "setpoint 250", "setpoint 250"}));
    QCOMPARE(rig.sim.loglines(QStringLiteral("write 300 = ")).last(),
             QStringLiteral("write 300 = 250"));
    QVERIFY2(rig.sim.loglines(QStringLiteral("garbage")).isEmpty(), rig.sim.err.constData());
}

void tst_endtoend::badchecksums()
{
    Rig rig({"--rate", "2", "--ambient", "30", "--bad-crc-every", "3"});
    QVERIFY(rig.start());
    QLineEdit *errors = rig.field(QStringLiteral("errorcount"));
    QLineEdit *temperature = rig.field(QStringLiteral("currenttemp"));
    QSignalSpy shown(temperature, &QLineEdit::textChanged);
    QSignalSpy flips(rig.box(QStringLiteral("autosamples")), &QCheckBox::toggled);

    // The setpoint first, so that its echo is the first reply and every third one after it is
    // a reading.
    rig.settemp(QStringLiteral("33.0"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.sim.count(QStringLiteral("tx 01 06 ")), 1, settlems);
    rig.box(QStringLiteral("autoread"))->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(errors->text().toInt() >= 2, settlems);

    // Readings go on being decoded between the corrupted ones, and follow the model.
    const qsizetype flipped = flips.size();
    QTRY_VERIFY_WITH_TIMEOUT(flips.size() >= flipped + 3, settlems);
    QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("33.0"), settlems);
    const QStringList seen = changes(shown);
    QVERIFY2(seen.size() >= 4, qPrintable(seen.join(' ')));
    for (const QString &text : seen)
        QVERIFY2(reportedtemperatures(rig.sim).contains(text), qPrintable(text));

    // Once quiet, every reply is accounted for: one in three counted as an error, the other
    // readings shown, and the echo.
    rig.box(QStringLiteral("autoread"))->setChecked(false);
    QTRY_COMPARE_WITH_TIMEOUT(1 + flips.size() + errors->text().toInt(),
                              qsizetype(rig.sim.count(QStringLiteral("tx "))), settlems);
    const int replies = rig.sim.count(QStringLiteral("tx "));
    QCOMPARE(errors->text().toInt(), replies / 3);
    QCOMPARE(rig.finish(), QString());
}

void tst_endtoend::refusedsetpoint()
{
    Rig rig({"--rate", "20", "--ambient", "22", "--max-setpoint", "50"});
    QVERIFY(rig.start());
    QLineEdit *errors = rig.field(QStringLiteral("errorcount"));
    QLineEdit *temperature = rig.field(QStringLiteral("currenttemp"));
    QSignalSpy flips(rig.box(QStringLiteral("autosamples")), &QCheckBox::toggled);

    rig.box(QStringLiteral("autoread"))->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("22.0"), settlems);

    // The controller answers 80.0 with exception 03; the operator sees it counted.
    rig.settemp(QStringLiteral("80.0"));
    QTRY_COMPARE_WITH_TIMEOUT(errors->text(), QStringLiteral("1"), settlems);
    QCOMPARE(rig.sim.count(QStringLiteral("refused 03")), 1);

    // The refusal left nothing in the way: readings and the next setpoint go through.
    const qsizetype flipped = flips.size();
    QTRY_VERIFY_WITH_TIMEOUT(flips.size() >= flipped + 3, settlems);
    QCOMPARE(temperature->text(), QStringLiteral("22.0"));
    rig.settemp(QStringLiteral("45.0"));
    QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("45.0"), settlems);
    QCOMPARE(errors->text(), QStringLiteral("1"));

    rig.box(QStringLiteral("autoread"))->setChecked(false);
    QCOMPARE(rig.finish(), QString());
    QCOMPARE(rig.sim.loglines(QStringLiteral("setpoint ")), QStringList{"setpoint 450"});
}

void tst_endtoend::controllervanishes()
{
    AlertCloser alerts;
    Rig rig({"--rate", "2", "--ambient", "23", "--exit-after", "3"});
    QVERIFY(rig.start());
    rig.field(QStringLiteral("setpoints(0)"))->setText(QStringLiteral("40.0"));
    QCheckBox *run = rig.box(QStringLiteral("cyclerun"));
    run->click();
    QVERIFY2(run->isChecked() && rig.sim.process.state() == QProcess::Running,
             "the run must begin before the simulator ends");
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.count(QStringLiteral("setpoint 400")) == 1, settlems);
    QCOMPARE(rig.text(QStringLiteral("cyclemode")), QStringLiteral("Heat"));

    // The simulator ends by itself, its pseudo-terminal with it.
    QTRY_COMPARE_WITH_TIMEOUT(alerts.seen.size(), qsizetype(1), settlems);
    const qint64 cpubefore = cpumilliseconds();
    const int sends = rig.link.sends;
    QCOMPARE(rig.sim.stop(), QString());
    QCOMPARE(alerts.seen[0].title, QStringLiteral("Com port error"));
    QVERIFY2(alerts.seen[0].text.contains(QLatin1String("COM1")), qPrintable(alerts.seen[0].text));

    // The run is over and the window is the operator's again, without a port.
    QVERIFY(!run->isChecked());
    QVERIFY(!run->isEnabled());
    QCOMPARE(rig.text(QStringLiteral("cyclemode")), QStringLiteral("Hold"));
    QCOMPARE(rig.ports()->currentText(), QStringLiteral("Select"));
    QVERIFY(rig.ports()->isEnabled());

    // Quiet afterwards: the ticks go on but try no frame, raise no alert and burn no processor.
    // Watching for nothing to happen takes a while of watching.
    QTest::qWait(2000);
    const qint64 cpu = cpumilliseconds() - cpubefore;
    QCOMPARE(rig.link.sends, sends);
    QCOMPARE(alerts.seen.size(), qsizetype(1));
    QVERIFY2(cpu < 500, qPrintable(QStringLiteral("%1 ms of processor in 2 s").arg(cpu)));

    // Still answering the operator: a command without a port is refused as usual.
    QTest::mouseClick(rig.button(1), Qt::LeftButton);
    QTRY_COMPARE(alerts.titles(), QStringList({"Com port error", "Serial port error"}));
    QCOMPARE(rig.link.sends, sends);
}

void tst_endtoend::splitreplies()
{
    Rig rig({"--rate", "20", "--ambient", "21.5", "--split-reply", "30"});
    QVERIFY(rig.start());
    QSignalSpy flips(rig.box(QStringLiteral("autosamples")), &QCheckBox::toggled);

    rig.box(QStringLiteral("autoread"))->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.text(QStringLiteral("currenttemp")), QStringLiteral("21.5"),
                              settlems);
    rig.settemp(QStringLiteral("26.0"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.text(QStringLiteral("currenttemp")), QStringLiteral("26.0"),
                              settlems);
    QTRY_VERIFY_WITH_TIMEOUT(flips.size() >= 6, settlems);

    // Every reading that came in two pieces was put together and shown.
    rig.box(QStringLiteral("autoread"))->setChecked(false);
    QTRY_COMPARE_WITH_TIMEOUT(flips.size(), qsizetype(rig.sim.count(readtempreply)), settlems);
    QCOMPARE(rig.text(QStringLiteral("errorcount")), QStringLiteral("0"));
    QCOMPARE(rig.finish(), QString());
    QVERIFY2(rig.sim.loglines(QStringLiteral("dropped")).isEmpty(), rig.sim.err.constData());
}

QTEST_MAIN(tst_endtoend)
#include "tst_endtoend.moc"
