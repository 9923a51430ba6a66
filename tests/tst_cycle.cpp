// The automatic cycle tick by tick against a modelled chamber: runs, stops, nesting, port loss.
#include "link/frames.h"
#include "support/windowrig.h"

#include <cmath>

using namespace chamber;

namespace {

const QByteArray readTemp = QByteArray::fromHex("010300640001c5d5");
const QByteArray setTemp250 = QByteArray::fromHex("0106012c00fac9bc");
// What a run locks or disables and a stop gives back.
const QStringList lockable = {"setpoints(0)",  "setpoints(1)", "setpoints(2)", "setpoints(3)",
                              "dwells(0)",     "dwells(1)",    "dwells(2)",    "dwells(3)",
                              "cycles(0)",     "Command1(0)",  "Command1(1)",  "rampenable(0)",
                              "rampenable(1)", "portselect"};
// Backgrounds that Rig::shade() tells apart: white, red, blue, green and grey.
const QList<QColor> shaded = {Qt::white, Qt::red, Qt::blue, Qt::green, Qt::darkGray};
// What a stop leaves, as Rig::state() shows it: the profile white, "Hold" on white, the countdown
// at 0, "Run" cleared and nothing locked.
const QString idle = "wwww wwww Hold w 0 0 0";

// The values of the settemp frames among frames, as "750 250".
QString setTempValues(const QList<QByteArray> &frames)
{
    QStringList values;
    for (const QByteArray &frame : frames)
        if (frame.size() == 8 && frame.startsWith(setTemp250.left(4)))
            values << QString::number(quint8(frame[4]) << 8 | quint8(frame[5]));
    return values.join(' ');
}

// What one tick left on the screen and on the line; backgrounds as Rig::shade() letters.
struct Tick
{
    QString mode, counter, temperature, sp, dw;
    QChar modeShade;
    QList<QByteArray> frames;
};

// The successive different values that one of a tick's texts took over a log, as "Heat Wait".
QString changes(const QList<Tick> &log, QString Tick::*text)
{
    QStringList seen;
    for (const Tick &k : log)
        if (seen.isEmpty() || seen.last() != k.*text)
            seen << k.*text;
    return seen.join(' ');
}

// The window with COM3 chosen. The chamber at the far end keeps a setpoint and a temperature in
// tenths, and each reading first moves the temperature up to 20.0 toward the setpoint. It answers
// from inside the send, as a fast line does within the pause, and then runs after.
struct Rig : WindowRig
{
    Rig()
    {
        fake.answer = [this](const QByteArray &frame) {
            setpoint = frame == readTemp ? setpoint : setTempValues({frame}).toInt();
            temperature += frame == readTemp ? qBound(-200, setpoint - temperature, 200) : 0;
            const QByteArray reply =
                QByteArray::fromHex("010302") + char(temperature >> 8) + char(temperature);
            fake.feed(frame == readTemp ? reply + calccrc(reply) : frame); // writes are echoed
            after(frame);
        };
        ports()->setCurrentIndex(1);
    }
    // Chamber and display at 23.0, and the points given from point 0 on.
    void profile(const QString &setpoints, const QString &dwells, const QString &cycles)
    {
        points(setpoints, dwells);
        field("cycles(0)")->setText(cycles);
        temperature = setpoint = 230;
        field("currenttemp")->setText("23.0");
    }
    QColor base(const QString &name) const { return field(name)->palette().color(QPalette::Base); }
    // A field's background as a letter: white, red, blue, green, grey (-), or ? for any other.
    char shade(const QString &name) const { return "?wrbg-"[shaded.indexOf(base(name)) + 1]; }
    QString shades(const QString &array) const
    {
        QString letters;
        for (int i = 0; i < 4; ++i)
            letters += shade(QString("%1(%2)").arg(array).arg(i));
        return letters;
    }
    // Shades of the setpoints and dwells, "cyclemode" and its shade, "countdown", the Run box and
    // how many of the lockable controls are locked.
    QString state() const
    {
        int locked = 0;
        for (const QString &name : lockable) {
            const QLineEdit *edit = window.findChild<QLineEdit *>(name);
            locked += !control(window, name)->isEnabled() || (edit && edit->isReadOnly());
        }
        return QStringList{shades("setpoints"),    shades("dwells"),
                           text("cyclemode"),      QString(shade("cyclemode")),
                           text("countdown"),      QString::number(box("cyclerun")->isChecked()),
                           QString::number(locked)}
            .join(' ');
    }
    Tick tick()
    {
        const qsizetype before = fake.sent.size();
        window.Timer1_Timer();
        return {text("cyclemode"), text("cycles(1)"),  text("currenttemp"),  shades("setpoints"),
                shades("dwells"),  shade("cyclemode"), fake.sent.mid(before)};
    }
    // Ticks until done holds, at most n times; what each tick left.
    QList<Tick> ticks(int n, const std::function<bool()> &done = nullptr)
    {
        QList<Tick> log;
        while (log.size() < n && (log.isEmpty() || !done || !done()))
            log << tick();
        return log;
    }
    const std::function<bool()> stopped = [this] { return !box("cyclerun")->isChecked(); };

    int temperature = 230, setpoint = 230;
    std::function<void(const QByteArray &)> after = [](const QByteArray &) {};
};

} // namespace

class tst_cycle : public QObject
{
    Q_OBJECT
private slots:
    void profiles_data()
    {
        // setpoints, dwells, cycles; the settemp values sent and the modes shown over the run
        QTest::addColumn<QStringList>("run");
        QTest::newRow("points 0 to 2, two cycles")
            << QStringList{"40.0 30.0 45.0", "1 1 1", "2", "400 300 450 400 300 450 250 250",
                           "Heat Wait Cool Wait Heat Wait Cool Wait Cool Wait Heat Wait Hold"};
        QTest::newRow("four points, a half dwell counts even")
            << QStringList{"75.0 25.0 35.0 25.0", "1 2 3 2.5", "1", "750 250 350 250 250 250",
                           "Heat Wait Cool Wait Heat Wait Cool Wait Hold"};
        QTest::newRow("no cycles") << QStringList{"75.0 25.0", "1 1", "0", "250 250", "Hold"};
        // Setpoints equal to the display count as reached at once: no "Heat" or "Cool", no hang.
        QTest::newRow("at the setpoints")
            << QStringList{"23.0 23.0", "1 1", "1", "230 230 250 250", "Hold Wait Hold"};
    }

    // A whole run, tick by tick: what each tick shows and sends, and how long each dwell lasts.
    void profiles()
    {
        QFETCH(QStringList, run);
        const QString &setpoints = run[0], &dwells = run[1], &cycles = run[2];
        const int used = int(setpoints.count(' ')) + 1;
        Rig rig;
        for (int i = 2; i < used; ++i)
            rig.click(QString("rampenable(%1)").arg(i - 2));
        rig.profile(setpoints, dwells, cycles);
        const QChar plain = rig.shade("setpoints(0)");

        // Starting locks the profile and greys the unused points, but sends nothing.
        rig.click("cyclerun");
        QVERIFY(rig.fake.sent.isEmpty() && rig.text("cycles(1)") == "0");
        const QString started = QString(used, plain) + QString(4 - used, '-');
        QCOMPARE(rig.state(), QString("%1 %1 Hold %2 0 1 14").arg(started, plain));

        const QList<Tick> log = rig.ticks(200, rig.stopped);
        QCOMPARE(setTempValues(rig.fake.sent), run[3]);
        QCOMPARE(rig.fake.sent.last(), setTemp250);
        QCOMPARE(changes(log, &Tick::mode), run[4]);
        QCOMPARE(changes(log, &Tick::counter), cycles == "2" ? "1 2" : cycles); // "0": none ran
        QCOMPARE(rig.state(), idle);
        QString points; // whose dwells ran, in order
        int dwelling = -1, since = 0;
        for (int t = 0; t < log.size(); ++t) {
            const Tick &k = log[t];
            QCOMPARE(k.frames.value(0), readTemp); // the poll comes first in every tick
            // Heat, Cool and Wait show in their colours, and so does the point being approached.
            const char colour = k.mode == "Heat" ? 'r' : k.mode == "Cool" ? 'b' : 'g';
            QVERIFY(k.modeShade == colour || (k.mode == "Hold" && k.modeShade != 'g'));
            QVERIFY(k.sp.count('r') == (colour == 'r') && k.sp.count('b') == (colour == 'b'));
            QVERIFY(k.dw.count('g') <= 1 && (t + 1 == log.size() || k.sp.count('-') == 4 - used));
            const int now = int(k.dw.indexOf('g'));
            if (now == dwelling)
                continue;
            // A dwell of n ends 4n - 3 to 4n ticks after it began.
            const int n = int(std::nearbyint(dwells.section(' ', dwelling, dwelling).toDouble()));
            QVERIFY(dwelling < 0 || (t - since >= 4 * n - 3 && t - since <= 4 * n));
            if (now >= 0) { // reached: the point white, "Wait", the display at the setpoint
                points += QString::number(now);
                since = t;
                QVERIFY(t > 0 && k.sp[now] == 'w' && k.mode == "Wait" &&
                        k.temperature == setpoints.section(' ', now, now));
                QVERIFY(log[t - 1].mode == "Wait" || log[t - 1].sp[now] == log[t - 1].modeShade);
            }
            dwelling = now;
        }
        QCOMPARE(points, QString("0123").left(used).repeated(cycles.toInt()));
        QVERIFY(log.size() == 1 || log[log.size() - 2].dw.contains('g')); // ends with a dwell
    }

    // A stop in the middle of a dwell zeroes what was left of it; a dwell beyond 16 bits counts
    // in full and an absurd one is capped, never wrapped.
    void stops()
    {
        Rig rig;
        rig.profile("30.0 25.0", "40000 1", "1");
        const auto counting = [&] { return rig.text("countdown") != "0"; };
        rig.click("cyclerun");
        rig.ticks(12, counting);
        QCOMPARE(rig.text("countdown"), "39999");
        const qsizetype sent = rig.fake.sent.size();
        rig.click("cyclerun");
        QCOMPARE(rig.fake.sent.mid(sent), QList<QByteArray>{setTemp250});
        QCOMPARE(rig.state(), idle);
        rig.ticks(8, counting);
        QCOMPARE(rig.text("countdown"), "0");

        // A pasted 1 followed by 300 zeros, left as the operator would leave the field.
        rig.field("dwells(0)")->setText("1" + QString(300, '0'));
        rig.window.dwells_LostFocus(0);
        rig.click("cyclerun");
        rig.ticks(12, counting);
        QVERIFY2(rig.text("countdown").toLongLong() >= 39999, qPrintable(rig.text("countdown")));
    }

    // Point 3 can only be in the cycle together with point 2. A double-click on the cycles to
    // run resets the counter, also during a run, which counts on from there.
    void rampsAndCounter()
    {
        Rig rig;
        QString ramps; // after each click: 0 neither box, 2 point 2 alone, 3 both
        for (const QChar index : QString("10111000")) {
            rig.click(QString("rampenable(%1)").arg(index));
            ramps += QString::number(rig.box("rampenable(0)")->isChecked() * 2 +
                                     rig.box("rampenable(1)")->isChecked());
        }
        QCOMPARE(ramps, "02323020"); // point 3 alone is undone; clearing 2 takes 3 with it
        rig.profile("40.0 30.0", "1 1", "1");
        rig.click("cyclerun");
        rig.ticks(40, [&] { return rig.text("cyclemode") == "Wait"; });
        QTest::mouseDClick(rig.field("cycles(0)"), Qt::LeftButton);
        QCOMPARE(rig.text("cyclemode") + rig.text("cycles(1)") + rig.text("cycles(0)"), "Wait01");
        QCOMPARE(changes(rig.ticks(200, rig.stopped), &Tick::counter), "0 1");
        // One cycle before the reset and one after it.
        QCOMPARE(setTempValues(rig.fake.sent), "400 300 400 300 250 250");
    }

    // A tick that falls due inside another tick's pause takes no step and sends no poll. "Run"
    // cleared and ticked again during a pause begins a run that must stand, not be undone by the
    // stop or the step that resume after the pause.
    void reentry()
    {
        Rig rig;
        rig.profile("40.0 30.0", "1 1", "2");
        rig.after = [&](const QByteArray &frame) { // one more tick inside each setpoint's pause
            if (!setTempValues({frame}).isEmpty())
                rig.window.Timer1_Timer();
        };
        rig.click("cyclerun");
        const QList<Tick> log = rig.ticks(200, rig.stopped);
        QCOMPARE(setTempValues(rig.fake.sent), "400 300 400 300 250 250");
        QCOMPARE(rig.fake.sent.count(readTemp), log.size()); // no nested poll or repeated step

        QList<QByteArray> clickOn; // frames in whose pause "Run" is clicked, in order
        rig.after = [&](const QByteArray &frame) {
            if (clickOn.removeOne(frame))
                rig.click("cyclerun");
        };
        // The new run's first tick begins cycle 1 at point 0, with the profile locked.
        const auto restarted = [&] {
            rig.profile("40.0 30.0", "1 1", "1");
            const Tick k = rig.tick();
            return clickOn.isEmpty() && k.counter == "1" && k.mode == "Heat" &&
                   setTempValues(k.frames) == "400" && rig.state().endsWith(" 1 14");
        };
        rig.click("cyclerun"); // ticked again inside the pause of an operator's stop
        clickOn = {setTemp250};
        rig.click("cyclerun");
        QVERIFY(restarted());
        rig.click("cyclerun"); // cleared inside a step's setpoint, ticked again inside the stop's
        rig.click("cyclerun");
        clickOn = {frameFor(u"settemp", 400), setTemp250};
        QCOMPARE(setTempValues(rig.tick().frames), "400 250");
        QVERIFY(restarted());
        clickOn = {setTemp250}; // ticked again inside the stop that ends the last cycle
        const QList<Tick> last = rig.ticks(60, [&] { return clickOn.isEmpty(); });
        QCOMPARE(setTempValues(last.last().frames), "250"); // and no second stop
        QVERIFY(restarted());
    }

    // "Auto" polls once a tick while a port is open and takes no step. A port that vanishes
    // during a run ends it, is reported once and leaves nothing to send.
    void portLoss()
    {
        Rig rig;
        rig.profile("40.0 30.0", "5 5", "1");
        rig.ticks(3); // neither box ticked: nothing is sent
        rig.click("autoread");
        rig.temperature = rig.setpoint = 231;
        QCOMPARE(rig.ticks(3).first().temperature, "23.1"); // the reply is decoded in its tick
        // Freshly loaded the step is 0, yet no step is taken.
        QCOMPARE(rig.fake.sent, QList<QByteArray>(3, readTemp));

        rig.click("cyclerun");
        rig.ticks(40, [&] { return rig.text("cyclemode") == "Wait"; });
        rig.fake.openPort.clear(); // the adapter is unplugged under the window
        rig.fake.error = {12, "Input/output error"};
        emit rig.fake.PortLost();
        QTRY_COMPARE(rig.alerts.titles(), QStringList{"Com port error"});
        QVERIFY(rig.alerts.seen[0].text.endsWith("Input/output error"));
        QCOMPARE(rig.state(), idle);
        QVERIFY(rig.ports()->currentIndex() == 0 && !rig.box("cyclerun")->isEnabled());
        rig.fake.calls.clear();
        rig.ticks(8);
        QCOMPARE(rig.fake.calls, QStringList());
        QCOMPARE(rig.alerts.titles(), QStringList{"Com port error"});

        // The port can be chosen again. Another that fails to open leaves "Run" usable; a run
        // begun then and stopped tells the operator that the rest setpoint could not be sent.
        rig.ports()->setCurrentIndex(1);
        QVERIFY(rig.box("cyclerun")->isEnabled() && rig.fake.openPort == "COM3");
        rig.fake.present.remove("COM4");
        rig.ports()->setCurrentIndex(2);
        QVERIFY(rig.box("cyclerun")->isEnabled() && rig.fake.openPort.isEmpty());
        rig.click("cyclerun");
        rig.click("cyclerun");
        QTRY_COMPARE(rig.alerts.titles(),
                     QStringList({"Com port error", "Com port error", "Serial port error"}));
        QCOMPARE(rig.alerts.seen[2].text, "Please select an active serial port before attepmting "
                                          "to comunicate with your peripheral device!");
        QCOMPARE(rig.state(), idle);
    }
};

QTEST_MAIN(tst_cycle)
#include "tst_cycle.moc"
