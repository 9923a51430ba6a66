// chamberctl end to end: the window, the real serial link and chamber-sim over a pseudo-terminal.
#include "link/qtseriallink.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/simprocess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace chamber;

namespace {

constexpr int settleMs = 10000; // generous for a sanitizer build on a busy machine

// The real link, counting the frames the window hands it: once the port is gone, nothing more
// may even be attempted.
struct CountingLink : QtSerialLink
{
    void SendData(const QByteArray &frame) override
    {
        ++sends;
        QtSerialLink::SendData(frame);
    }
    int sends = 0;
};

// A simulator, and the window talking to it through COM1 with its own 250 ms timer running.
struct Rig
{
    explicit Rig(const QStringList &simArgs)
        : sim(simArgs + QStringList{"--log"})
    {}
    ~Rig() { qunsetenv("CHAMBERCTL_PORTS"); } // the window goes first, then its link

    // Loads and shows the window as the program's start does, then chooses COM1.
    bool start()
    {
        if (!sim.waitReady())
            return false;
        qputenv("CHAMBERCTL_PORTS", QFile::encodeName(sim.folder));
        window = std::make_unique<chamber::main>(&link);
        window->Form_Load();
        window->show();
        ports()->setCurrentIndex(qMax(0, ports()->findText("COM1"))); // 0 is "Select"
        return box("cyclerun")->isEnabled();
    }
    // Closes the port as the operator would and ends the simulator; empty when it exited cleanly
    // and every frame it got from us was whole and valid.
    QString finish()
    {
        ports()->setCurrentIndex(0);
        const QString stopped = sim.stop();
        return stopped.isEmpty() ? sim.logLines("garbage").join('\n') : stopped;
    }

    QComboBox *ports() { return control<QComboBox>(*window, "portselect"); }
    QLineEdit *field(const QString &name) { return control<QLineEdit>(*window, name); }
    QCheckBox *box(const QString &name) { return control<QCheckBox>(*window, name); }
    void setTemp(const QString &value)
    {
        field("setpoint")->setText(value);
        QTest::mouseClick(control<QPushButton>(*window, "Command1(0)"), Qt::LeftButton);
    }

    SimProcess sim;
    CountingLink link;
    std::unique_ptr<chamber::main> window;
};

} // namespace

class tst_endtoend : public QObject
{
    Q_OBJECT
private slots:
    void autoReading()
    {
        Rig rig({"--rate", "20", "--ambient", "20"});
        QVERIFY(rig.start());
        QLineEdit *temperature = rig.field("currenttemp");
        QSignalSpy shown(temperature, &QLineEdit::textChanged);
        rig.box("autoread")->setChecked(true);
        QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("20.0"), 1000);
        rig.setTemp("60.0");
        QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("60.0"), settleMs);

        // Each text shown on the way was a reading the model gave ("read 100 = 253" is 25.3).
        const QStringList reported = rig.sim.logLines("read 100 = ");
        QVERIFY(shown.size() >= 5);
        for (const QList<QVariant> &text : shown) {
            const QString tenths = QString::number(qRound(text[0].toDouble() * 10));
            QVERIFY2(reported.contains("read 100 = " + tenths), qPrintable(text[0].toString()));
        }
        QCOMPARE(rig.field("errorcount")->text(), QStringLiteral("0"));
        rig.box("autoread")->setChecked(false);
        QCOMPARE(rig.finish(), QString());
    }

    void wholeRun()
    {
        Rig rig({"--rate", "100", "--ambient", "25"});
        QVERIFY(rig.start());
        const QStringList points{"40.0", "30.0", "35.0"};
        for (int i = 0; i < 3; ++i) {
            rig.field(QStringLiteral("setpoints(%1)").arg(i))->setText(points[i]);
            rig.field(QStringLiteral("dwells(%1)").arg(i))->setText("1");
        }
        rig.field("cycles(0)")->setText("2");
        rig.box("rampenable(0)")->setChecked(true);
        QCheckBox *run = rig.box("cyclerun");
        run->click();
        QTRY_VERIFY_WITH_TIMEOUT(!run->isChecked(), 90000);

        QCOMPARE(rig.field("cycles(1)")->text(), QStringLiteral("2"));
        QCOMPARE(rig.field("cyclemode")->text(), QStringLiteral("Hold"));
        QCOMPARE(rig.field("cyclemode")->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(rig.finish(), QString());
        // The profile twice, then the rest setpoint twice: the last step clears the Run box,
        // whose handler ends the run, and then ends it once more itself.
        QCOMPARE(rig.sim.logLines("setpoint "),
                 QStringList({"setpoint 400", "setpoint 300", "setpoint 350", "setpoint 400",
                              "setpoint 300", "setpoint 350", "setpoint 250", "setpoint 250"}));
    }

    void faults_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("setpoint");
        QTest::addColumn<int>("badCrcEvery");
        QTest::addColumn<int>("refusals");
        QTest::newRow("bad CRC") << QStringList{"--bad-crc-every", "3"} << "" << 3 << 0;
        QTest::newRow("exception") << QStringList{"--max-setpoint", "50"} << "80.0" << 0 << 1;
        QTest::newRow("split replies") << QStringList{"--split-reply", "30"} << "" << 0 << 0;
    }
    // Every reply is accounted for, each reading shown and each corrupted or refused one counted,
    // and decoding goes on after it.
    void faults()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, setpoint);
        QFETCH(int, badCrcEvery);
        QFETCH(int, refusals);
        Rig rig(simArgs + QStringList{"--rate", "2", "--ambient", "30"});
        QVERIFY(rig.start());
        QSignalSpy readings(rig.box("autosamples"), &QCheckBox::toggled); // flips once a reading
        QLineEdit *errors = rig.field("errorcount");
        if (!setpoint.isEmpty())
            rig.setTemp(setpoint);
        rig.box("autoread")->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(readings.size() >= 8, settleMs);
        rig.box("autoread")->setChecked(false);
        const auto replies = [&] { return int(rig.sim.logLines("tx ").size()); };
        QTRY_VERIFY_WITH_TIMEOUT(replies() == rig.link.sends &&
                                     readings.size() + errors->text().toInt() == replies(),
                                 settleMs);
        QCOMPARE(errors->text().toInt(), (badCrcEvery ? replies() / badCrcEvery : 0) + refusals);
        QCOMPARE(rig.sim.logLines("refused").size(), refusals);
        QCOMPARE(rig.field("currenttemp")->text(), QStringLiteral("30.0"));
        QCOMPARE(rig.finish(), QString());
    }

    void controllerVanishes()
    {
        AlertCloser alerts;
        Rig rig({"--rate", "2", "--ambient", "23", "--exit-after", "3"});
        QVERIFY(rig.start());
        rig.field("setpoints(0)")->setText("40.0");
        QCheckBox *run = rig.box("cyclerun");
        run->click();
        QVERIFY2(run->isChecked() && rig.sim.process.state() == QProcess::Running,
                 "the run must begin before the simulator ends");
        QTRY_COMPARE_WITH_TIMEOUT(rig.sim.logLines("setpoint 400").size(), 1, settleMs);

        // The simulator ends by itself, its pseudo-terminal with it.
        QTRY_COMPARE_WITH_TIMEOUT(alerts.titles(), QStringList{"Com port error"}, settleMs);
        QCOMPARE(rig.sim.stop(), QString());
        QVERIFY(!run->isChecked() && !run->isEnabled() && rig.ports()->isEnabled());
        QCOMPARE(rig.field("cyclemode")->text(), QStringLiteral("Hold"));
        QCOMPARE(rig.ports()->currentText(), QStringLiteral("Select"));

        // The ticks go on but try no frame and raise no alert of their own.
        const int sends = rig.link.sends;
        QSignalSpy ticks(control<QTimer>(*rig.window, "Timer1"), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 8, settleMs);
        QCOMPARE(alerts.titles(), QStringList{"Com port error"});
        // Still the operator's: a command without a port is refused as ever.
        QTest::mouseClick(control<QPushButton>(*rig.window, "Command1(1)"), Qt::LeftButton);
        QTRY_COMPARE(alerts.titles(), QStringList({"Com port error", "Serial port error"}));
        QCOMPARE(rig.link.sends, sends);
    }
};

QTEST_MAIN(tst_endtoend)
#include "tst_endtoend.moc"
