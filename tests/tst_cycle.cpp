// The automatic cycle driven tick by tick against a modelled chamber: runs, stops, commands.
#include "link/frames.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/fakeseriallink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <array>
#include <functional>

using namespace chamber;

namespace {

const QColor white(255, 255, 255);
const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);
const QColor green(0, 255, 0);
const QColor grey(128, 128, 128);

const QByteArray readtempframe = QByteArray::fromHex("010300640001c5d5");
const QByteArray settemp250 = QByteArray::fromHex("0106012c00fac9bc");
const QByteArray settemp750 = QByteArray::fromHex("0106012c02eec8d3");
const QByteArray settemp805 = QByteArray::fromHex("0106012c032588d4");
const QByteArray settemp65535 = QByteArray::fromHex("0106012cffff484f");
const QByteArray settempminus32768 = QByteArray::fromHex("0106012c8000283f");

bool issettemp(const QByteArray &frame)
{
    return frame.size() == 8 && frame.startsWith(QByteArray::fromHex("0106012c"));
}

// The register value a settemp frame writes.
int settempvalue(const QByteArray &frame)
{
    return (quint8(frame[4]) << 8) | quint8(frame[5]);
}

QList<int> settempsin(const QList<QByteArray> &frames)
{
    QList<int> values;
    for (const QByteArray &frame : frames) {
        if (issettemp(frame))
            values << settempvalue(frame);
    }
    return values;
}

// The controller at the far end of the line. It keeps a setpoint and a temperature, both in
// tenths; every reading first moves the temperature rate tenths toward the setpoint. It
// answers at once, from inside the send, as a fast line would within the pause.
class Chamber
{
public:
    explicit Chamber(FakeSerialLink &link)
        : link(link)
    {
        link.answer = [this](const QByteArray &frame) { answer(frame); };
    }

    int temperature = 230;
    int setpoint = 230;
    int rate = 200;
    std::function<void(const QByteArray &)> after; // runs once the frame has been answered

private:
    void answer(const QByteArray &frame)
    {
        if (frame.startsWith(readtempframe.left(6))) {
            if (temperature < setpoint)
                temperature = std::min(setpoint, temperature + rate);
            else
                temperature = std::max(setpoint, temperature - rate);
            QByteArray reply = QByteArray::fromHex("010302");
            reply.append(char((temperature >> 8) & 0xFF));
            reply.append(char(temperature & 0xFF));
            reply += calccrc(reply);
            link.feed(reply);
        } else if (issettemp(frame)) {
            setpoint = settempvalue(frame);
            link.feed(frame); // a register write is answered with its own echo
        }
        if (after)
            after(frame);
    }

    FakeSerialLink &link;
};

// What one tick left on the screen and on the line.
struct TickRecord
{
    QString mode;
    QColor modecolour;
    QString countdown;
    QString counter;
    QString temperature;
    std::array<QColor, 4> setpointcolour;
    std::array<QColor, 4> dwellcolour;
    QList<QByteArray> frames;
    bool running = false;
};

// One dwell seen in a run's log: the tick in which its field turned green, the tick in which it
// turned back, and the countdown texts shown in between (repeats dropped).
struct DwellSeen
{
    int point = 0;
    int start = 0;
    int end = 0;
    QStringList countdowns;
};

QList<DwellSeen> dwellsin(const QList<TickRecord> &log)
{
    QList<DwellSeen> seen;
    for (int p = 0; p < 4; ++p) {
        int start = -1;
        for (int i = 0; i < log.size(); ++i) {
            const bool isgreen = log[i].dwellcolour[p] == green;
            if (isgreen && start < 0) {
                start = i;
            } else if (!isgreen && start >= 0) {
                DwellSeen dwell{p, start, i, {}};
                for (int t = start + 1; t <= i; ++t) {
                    if (dwell.countdowns.isEmpty() || dwell.countdowns.last() != log[t].countdown)
                        dwell.countdowns << log[t].countdown;
                }
                seen << dwell;
                start = -1;
            }
        }
    }
    std::sort(seen.begin(), seen.end(),
              [](const DwellSeen &a, const DwellSeen &b) { return a.start < b.start; });
    return seen;
}

// The window on a fake line with COM3 present, its own timer stopped so that the test gives
// every tick itself.
class Rig
{
public:
    Rig()
    {
        fake.present = {QStringLiteral("COM3")};
        window.findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
        window.Form_Load();
        window.show();
    }

    template<typename T = QLineEdit> T *get(const QString &name) const
    {
        T *found = window.findChild<T *>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    QLineEdit *field(const QString &name) const { return get<QLineEdit>(name); }
    QCheckBox *box(const QString &name) const { return get<QCheckBox>(name); }
    QComboBox *ports() const { return get<QComboBox>(QStringLiteral("portselect")); }
    QLineEdit *setpoints(int i) const { return field(QStringLiteral("setpoints(%1)").arg(i)); }
    QLineEdit *dwells(int i) const { return field(QStringLiteral("dwells(%1)").arg(i)); }
    QLineEdit *cycles(int i) const { return field(QStringLiteral("cycles(%1)").arg(i)); }
    QLineEdit *mode() const { return field(QStringLiteral("cyclemode")); }
    QLineEdit *countdown() const { return field(QStringLiteral("countdown")); }
    QCheckBox *run() const { return box(QStringLiteral("cyclerun")); }

    bool openport()
    {
        ports()->setCurrentIndex(1);
        return fake.openport == QLatin1String("COM3") && run()->isEnabled();
    }
    // The operator ticks or clears "Run".
    void clickrun() { QTest::mouseClick(run(), Qt::LeftButton); }

    // A profile of points 0 and 1, or more with the ramp boxes ticked beforehand.
    void profile(const QStringList &setpointtexts, const QStringList &dwelltexts,
                 const QString &cyclecount)
    {
        for (int i = 0; i < setpointtexts.size(); ++i)
            setpoints(i)->setText(setpointtexts[i]);
        for (int i = 0; i < dwelltexts.size(); ++i)
            dwells(i)->setText(dwelltexts[i]);
        cycles(0)->setText(cyclecount);
    }
    // The chamber and the window's display both at tenths.
    void temperatureat(int tenths)
    {
        controller.temperature = tenths;
        controller.setpoint = tenths;
        field(QStringLiteral("currenttemp"))->setText(QString::number(tenths / 10.0, 'f', 1));
    }

    TickRecord tick()
    {
        const qsizetype before = fake.sent.size();
        window.Timer1_Timer();
        TickRecord record;
        record.mode = mode()->text();
        record.modecolour = base(mode());
        record.countdown = countdown()->text();
        record.counter = cycles(1)->text();
        record.temperature = field(QStringLiteral("currenttemp"))->text();
        for (int i = 0; i < 4; ++i) {
            record.setpointcolour[i] = base(setpoints(i));
            record.dwellcolour[i] = base(dwells(i));
        }
        record.frames = fake.sent.mid(before);
        record.running = run()->isChecked();
        return record;
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            tick();
    }
    // Ticks until the run has ended, at most limit ticks; the last record is the ending tick.
    QList<TickRecord> runtoend(int limit = 200)
    {
        QList<TickRecord> log;
        while (log.size() < limit) {
            log << tick();
            if (!log.last().running)
                break;
        }
        return log;
    }
    // Ticks until done() holds, at most limit ticks; the number of ticks taken, or -1.
    int tickuntil(const std::function<bool()> &done, int limit = 40)
    {
        for (int n = 1; n <= limit; ++n) {
            tick();
            if (done())
                return n;
        }
        return -1;
    }

    static QColor base(const QLineEdit *edit) { return edit->palette().color(QPalette::Base); }
    static QString onoff(bool on, const char *yes, const char *no)
    {
        return QLatin1Char(' ') + QLatin1String(on ? yes : no);
    }

    // Everything a run changes in the window, for comparing the states two stops leave.
    QStringList runstate() const
    {
        QStringList state;
        QStringList edits = {QStringLiteral("cycles(0)"), QStringLiteral("cycles(1)"),
                             QStringLiteral("cyclemode"), QStringLiteral("countdown")};
        for (int i = 0; i < 4; ++i)
            edits << QStringLiteral("setpoints(%1)").arg(i) << QStringLiteral("dwells(%1)").arg(i);
        for (const QString &name : edits) {
            const QLineEdit *edit = field(name);
            state << name + QStringLiteral(" '") + edit->text() + QStringLiteral("' ") +
                         base(edit).name() + onoff(!edit->isReadOnly(), "editable", "locked") +
                         onoff(edit->isEnabled(), "enabled", "disabled");
        }
        for (const char *name : {"cyclerun", "autoread", "rampenable(0)", "rampenable(1)"}) {
            const QCheckBox *check = box(name);
            state << name + onoff(check->isChecked(), "ticked", "cleared") +
                         onoff(check->isEnabled(), "enabled", "disabled");
        }
        for (const char *name : {"Command1(0)", "Command1(1)"})
            state << name + onoff(get<QPushButton>(name)->isEnabled(), "enabled", "disabled");
        state << QStringLiteral("portselect '") + ports()->currentText() + QStringLiteral("'") +
                     onoff(ports()->isEnabled(), "enabled", "disabled");
        return state;
    }

    // The state a stop must leave: the profile white and editable, "Hold" on white, the
    // commands usable again.
    bool idle(QString *why) const
    {
        QStringList faults;
        for (int i = 0; i < 4; ++i) {
            for (const QLineEdit *edit : {setpoints(i), dwells(i)}) {
                if (base(edit) != white || edit->isReadOnly())
                    faults << edit->objectName();
            }
        }
        if (cycles(0)->isReadOnly())
            faults << QStringLiteral("cycles(0) locked");
        if (mode()->text() != QLatin1String("Hold") || base(mode()) != white)
            faults << QStringLiteral("cyclemode %1").arg(mode()->text());
        if (countdown()->text() != QLatin1String("0"))
            faults << QStringLiteral("countdown %1").arg(countdown()->text());
        if (run()->isChecked())
            faults << QStringLiteral("Run still ticked");
        for (const char *name : {"Command1(0)", "Command1(1)"}) {
            if (!get<QPushButton>(name)->isEnabled())
                faults << name;
        }
        for (const char *name : {"rampenable(0)", "rampenable(1)"}) {
            if (!box(name)->isEnabled())
                faults << name;
        }
        if (!ports()->isEnabled())
            faults << QStringLiteral("portselect disabled");
        *why = faults.join(QStringLiteral(", "));
        return faults.isEmpty();
    }

    FakeSerialLink fake;
    Chamber controller{fake};
    chamber::main window{&fake};
    AlertCloser alerts;
};

} // namespace

class tst_cycle : public QObject
{
    Q_OBJECT
private slots:
    void onecycle();
    void stopping();
    void threepointstwocycles();
    void fourpointsdwelltiming();
    void counterreset();
    void approachatsetpoint();
    void longdwells();
    void nestedticks();
    void restartinsidepause();
    void rampenableinvariant();
    void polling();
    void manualcommands();
    void portlost();
};

// The worked example: one cycle of points 0 and 1, heating to 75.0 and cooling to 25.0.
void tst_cycle::onecycle()
{
    Rig rig;
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    QVERIFY(rig.openport());
    rig.profile({"75.0", "25.0"}, {"1", "1"}, "1");
    rig.temperatureat(230);
    const QColor before = Rig::base(rig.setpoints(2));

    rig.clickrun();
    QVERIFY(rig.run()->isChecked());
    // Starting prepares the window but sends nothing and takes no step.
    QCOMPARE(rig.fake.sent.size(), 0);
    QCOMPARE(rig.cycles(1)->text(), QStringLiteral("0"));
    QCOMPARE(rig.mode()->text(), QStringLiteral("Hold"));
    for (int i : {2, 3}) {
        QCOMPARE(Rig::base(rig.setpoints(i)), grey);
        QCOMPARE(Rig::base(rig.dwells(i)), grey);
    }
    QCOMPARE(Rig::base(rig.setpoints(0)), before);
    for (int i = 0; i < 4; ++i) {
        QVERIFY(rig.setpoints(i)->isReadOnly());
        QVERIFY(rig.dwells(i)->isReadOnly());
    }
    QVERIFY(rig.cycles(0)->isReadOnly());
    QVERIFY(!rig.get<QPushButton>("Command1(0)")->isEnabled());
    QVERIFY(!rig.get<QPushButton>("Command1(1)")->isEnabled());
    QVERIFY(!rig.ports()->isEnabled());
    QVERIFY(!rig.box("rampenable(0)")->isEnabled());
    QVERIFY(!rig.box("rampenable(1)")->isEnabled());

    const QList<TickRecord> log = rig.runtoend();
    QVERIFY2(!log.last().running, "the run never ended");
    for (const TickRecord &record : log)
        QCOMPARE(record.frames.value(0), readtempframe); // the poll comes first in every tick

    // First tick: the cycle counted, heating toward 75.0 shown in red, 750 sent.
    QCOMPARE(log[0].counter, QStringLiteral("1"));
    QCOMPARE(log[0].mode, QStringLiteral("Heat"));
    QCOMPARE(log[0].modecolour, red);
    QCOMPARE(log[0].setpointcolour[0], red);
    QCOMPARE(log[0].frames, (QList<QByteArray>{readtempframe, settemp750}));

    // Reached once the display shows 75.0: point white, its dwell green, "Wait" in green.
    qsizetype reached = 1;
    while (reached < log.size() && log[reached].mode != QLatin1String("Wait")) {
        QCOMPARE(log[reached].mode, QStringLiteral("Heat"));
        QCOMPARE(log[reached].setpointcolour[0], red);
        QVERIFY(log[reached].temperature.toDouble() < 75.0);
        ++reached;
    }
    QVERIFY(reached < log.size());
    QCOMPARE(log[reached].temperature, QStringLiteral("75.0"));
    QCOMPARE(log[reached].setpointcolour[0], white);
    QCOMPARE(log[reached].dwellcolour[0], green);
    QCOMPARE(log[reached].modecolour, green);

    // The dwell over, point 1 lies below the display: "Cool" in blue, 250 sent.
    qsizetype cooling = reached + 1;
    while (cooling < log.size() && log[cooling].frames.size() == 1)
        ++cooling;
    QVERIFY(cooling < log.size());
    QCOMPARE(log[cooling].frames.value(1), settemp250);
    QCOMPARE(log[cooling].dwellcolour[0], white);
    QCOMPARE(log[cooling].mode, QStringLiteral("Cool"));
    QCOMPARE(log[cooling].modecolour, blue);
    QCOMPARE(log[cooling].setpointcolour[1], blue);

    qsizetype cooled = cooling + 1;
    while (cooled < log.size() && log[cooled].mode == QLatin1String("Cool"))
        ++cooled;
    QVERIFY(cooled < log.size());
    QCOMPARE(log[cooled].mode, QStringLiteral("Wait"));
    QVERIFY(log[cooled].temperature.toDouble() <= 25.0);
    QCOMPARE(log[cooled].setpointcolour[1], white);
    QCOMPARE(log[cooled].dwellcolour[1], green);

    // After dwell 1 the run ends at rest: 25.0 sent last, "Hold" on white.
    const QList<DwellSeen> dwells = dwellsin(log);
    QCOMPARE(dwells.size(), 2);
    QCOMPARE(dwells[0].start, int(reached));
    QCOMPARE(dwells[0].end, int(cooling));
    QCOMPARE(dwells[1].start, int(cooled));
    QCOMPARE(dwells[1].end, int(log.size() - 1));
    for (const DwellSeen &dwell : dwells) {
        QVERIFY2(
            dwell.end - dwell.start >= 1 && dwell.end - dwell.start <= 4,
            qPrintable(QStringLiteral("dwell of 1 took %1 ticks").arg(dwell.end - dwell.start)));
    }
    QCOMPARE(settempsin(rig.fake.sent), (QList<int>{750, 250, 250, 250}));
    QCOMPARE(rig.fake.sent.last(), settemp250);
    QCOMPARE(rig.cycles(1)->text(), QStringLiteral("1"));
    QString why;
    QVERIFY2(rig.idle(&why), qPrintable(why));
    QVERIFY(rig.run()->isEnabled());

    // Idle again: with neither box ticked the tick sends nothing.
    const qsizetype sent = rig.fake.sent.size();
    rig.ticks(8);
    QCOMPARE(rig.fake.sent.size(), sent);
    QCOMPARE(rig.countdown()->text(), QStringLiteral("0"));
    QCOMPARE(rig.alerts.titles(), QStringList());
}

// An operator's stop mid-dwell, the end of the last cycle (which stops twice), and a run of no
// cycles all leave the same idle window and the controller at 25.0.
void tst_cycle::stopping()
{
    Rig rig;
    QVERIFY(rig.openport());
    rig.profile({"30.0", "25.0"}, {"3", "1"}, "1");
    rig.temperatureat(250);

    rig.clickrun();
    QVERIFY(rig.tickuntil([&] { return rig.mode()->text() == QLatin1String("Wait"); }) > 0);
    QVERIFY(rig.tickuntil([&] { return rig.countdown()->text() == QLatin1String("2"); }) > 0);
    qsizetype sent = rig.fake.sent.size();
    rig.clickrun();
    QVERIFY(!rig.run()->isChecked());
    QCOMPARE(rig.fake.sent.mid(sent), QList<QByteArray>{settemp250});
    QString why;
    QVERIFY2(rig.idle(&why), qPrintable(why));
    // The dwell clock does not resume: the stop zeroed what was left.
    sent = rig.fake.sent.size();
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(rig.tick().countdown, QStringLiteral("0"));
    }
    QCOMPARE(rig.fake.sent.size(), sent);
    const QStringList stoppedonce = rig.runstate();

    // Run to the end: the step machine clears "Run" and stops, and the box's handler stops
    // again; the second stop must change nothing but resend 25.0.
    rig.clickrun();
    const QList<TickRecord> log = rig.runtoend();
    QVERIFY(!log.last().running);
    QCOMPARE(settempsin(log.last().frames), (QList<int>{250, 250}));
    QCOMPARE(rig.runstate(), stoppedonce);

    // No cycles to run: the first tick ends the run with nothing but the rest setpoint.
    rig.cycles(0)->setText(QStringLiteral("0"));
    rig.clickrun();
    QCOMPARE(rig.cycles(1)->text(), QStringLiteral("0"));
    const TickRecord first = rig.tick();
    QVERIFY(!first.running);
    QCOMPARE(first.frames, (QList<QByteArray>{readtempframe, settemp250, settemp250}));
    QCOMPARE(first.counter, QStringLiteral("0"));
    QVERIFY2(rig.idle(&why), qPrintable(why));
    QCOMPARE(rig.alerts.titles(), QStringList());
}

// Point 2 in the cycle, point 3 not: steps 0 to 5, two cycles counted, the cycle's last dwell
// whitened when the next cycle begins.
void tst_cycle::threepointstwocycles()
{
    Rig rig;
    QVERIFY(rig.openport());
    QTest::mouseClick(rig.box("rampenable(0)"), Qt::LeftButton);
    QVERIFY(rig.box("rampenable(0)")->isChecked());
    QVERIFY(!rig.box("rampenable(1)")->isChecked());
    rig.profile({"40.0", "30.0", "45.0", "60.0"}, {"1", "1", "1", "1"}, "2");
    rig.temperatureat(250);

    rig.clickrun();
    QCOMPARE(Rig::base(rig.setpoints(2)), Rig::base(rig.setpoints(1)));
    const QList<TickRecord> log = rig.runtoend();
    QVERIFY2(!log.last().running, "the run never ended");
    QCOMPARE(settempsin(rig.fake.sent), (QList<int>{400, 300, 450, 400, 300, 450, 250, 250}));

    // Point 3 stays grey and never shows a state.
    for (qsizetype i = 0; i + 1 < log.size(); ++i) {
        QCOMPARE(log[i].setpointcolour[3], grey);
        QCOMPARE(log[i].dwellcolour[3], grey);
    }

    // "1" through the first cycle, "2" through the second.
    qsizetype second = 0;
    while (second < log.size() && log[second].counter == QLatin1String("1"))
        ++second;
    QVERIFY(second > 0 && second < log.size());
    QCOMPARE(log.last().counter, QStringLiteral("2"));
    for (qsizetype i = second; i < log.size(); ++i)
        QCOMPARE(log[i].counter, QStringLiteral("2"));
    // The second cycle begins in the tick that ends dwell 2, which step 0 whitens.
    QCOMPARE(log[second - 1].dwellcolour[2], green);
    QCOMPARE(log[second].dwellcolour[2], white);
    QCOMPARE(log[second].dwellcolour[1], white);
    QCOMPARE(settempsin(log[second].frames), QList<int>{400});

    const QList<DwellSeen> dwells = dwellsin(log);
    QList<int> points;
    for (const DwellSeen &dwell : dwells)
        points << dwell.point;
    QCOMPARE(points, (QList<int>{0, 1, 2, 0, 1, 2}));
    // The run ends exactly when the second cycle's last dwell does.
    QCOMPARE(dwells.last().end, int(log.size() - 1));
    QCOMPARE(rig.alerts.titles(), QStringList());
}

// All four points: steps 6 and 7 run, and a dwell of n counts n seconds of nominal ticks,
// ending between 4n - 3 and 4n ticks after it began, with the countdown at n - 1 ... 0.
void tst_cycle::fourpointsdwelltiming()
{
    Rig rig;
    QVERIFY(rig.openport());
    QTest::mouseClick(rig.box("rampenable(0)"), Qt::LeftButton);
    QTest::mouseClick(rig.box("rampenable(1)"), Qt::LeftButton);
    QVERIFY(rig.box("rampenable(1)")->isChecked());
    // 2.5 units is a half: it counts 2, the even neighbour.
    rig.profile({"75.0", "25.0", "35.0", "25.0"}, {"1", "2", "3", "2.5"}, "1");
    rig.temperatureat(230);

    rig.clickrun();
    for (int i = 0; i < 4; ++i) {
        QVERIFY(Rig::base(rig.setpoints(i)) != grey);
        QVERIFY(Rig::base(rig.dwells(i)) != grey);
    }
    const QList<TickRecord> log = rig.runtoend();
    QVERIFY2(!log.last().running, "the run never ended");
    QCOMPARE(settempsin(rig.fake.sent), (QList<int>{750, 250, 350, 250, 250, 250}));

    // Approach 3 cools from 35.0 to 25.0 in blue.
    const auto approach3 = std::find_if(
        log.cbegin(), log.cend(), [](const TickRecord &r) { return r.setpointcolour[3] == blue; });
    QVERIFY(approach3 != log.cend());
    QCOMPARE(approach3->mode, QStringLiteral("Cool"));

    const QList<DwellSeen> dwells = dwellsin(log);
    QCOMPARE(dwells.size(), 4);
    const int units[] = {1, 2, 3, 2};
    for (int i = 0; i < 4; ++i) {
        const DwellSeen &dwell = dwells[i];
        const int n = units[i];
        const int took = dwell.end - dwell.start;
        QCOMPARE(dwell.point, i);
        QVERIFY2(
            took >= 4 * n - 3 && took <= 4 * n,
            qPrintable(QStringLiteral("dwell %1 of %2 took %3 ticks").arg(i).arg(n).arg(took)));
        QStringList expected;
        for (int left = n - 1; left >= 0; --left)
            expected << QString::number(left);
        // until its first second has passed the field still shows the last dwell's "0"
        QStringList shown = dwell.countdowns;
        if (shown.size() == expected.size() + 1 && shown.first() == QLatin1String("0"))
            shown.removeFirst();
        QCOMPARE(shown, expected);
    }
    QCOMPARE(dwells.last().end, int(log.size() - 1));
}

// A double-click on a cycles field resets the counter, also during a run, which then counts on
// from there.
void tst_cycle::counterreset()
{
    Rig rig;
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    QVERIFY(rig.openport());
    rig.profile({"40.0", "30.0"}, {"1", "1"}, "2");
    rig.temperatureat(250);

    rig.clickrun();
    QVERIFY(rig.tickuntil([&] { return rig.mode()->text() == QLatin1String("Wait"); }) > 0);
    QCOMPARE(rig.cycles(1)->text(), QStringLiteral("1"));
    QTest::mouseDClick(rig.cycles(0), Qt::LeftButton);
    QCOMPARE(rig.cycles(1)->text(), QStringLiteral("0"));
    QCOMPARE(rig.cycles(0)->text(), QStringLiteral("2"));

    const QList<TickRecord> log = rig.runtoend();
    QVERIFY2(!log.last().running, "the run never ended");
    QStringList counts;
    for (const TickRecord &record : log) {
        if (counts.isEmpty() || counts.last() != record.counter)
            counts << record.counter;
    }
    QCOMPARE(counts, (QStringList{"0", "1", "2"}));
    // One cycle before the reset and two after it.
    QCOMPARE(settempsin(rig.fake.sent), (QList<int>{400, 300, 400, 300, 400, 300, 250, 250}));

    // The counter itself answers a double-click too.
    QTest::mouseDClick(rig.cycles(1), Qt::LeftButton);
    QCOMPARE(rig.cycles(1)->text(), QStringLiteral("0"));
    QCOMPARE(rig.cycles(0)->text(), QStringLiteral("2"));
}

// An approach that starts with the display already at its setpoint counts as reached: its
// dwell begins at the next step, without "Heat" or "Cool".
void tst_cycle::approachatsetpoint()
{
    Rig rig;
    QVERIFY(rig.openport());
    // Point 1 equals point 0, so its approach also begins at its setpoint, under "Wait".
    rig.profile({"23.0", "23.0"}, {"1", "1"}, "1");
    rig.temperatureat(230);
    const QColor plain = Rig::base(rig.setpoints(0));

    rig.clickrun();
    const QList<TickRecord> log = rig.runtoend(40);
    QVERIFY2(!log.last().running, "the run hung in an approach");
    QCOMPARE(settempsin(rig.fake.sent), (QList<int>{230, 230, 250, 250}));
    for (const TickRecord &record : log) {
        QVERIFY(record.mode != QLatin1String("Heat") && record.mode != QLatin1String("Cool"));
        QVERIFY(record.setpointcolour[0] != red && record.setpointcolour[0] != blue);
        QVERIFY(record.setpointcolour[1] != red && record.setpointcolour[1] != blue);
    }
    QCOMPARE(log[0].mode, QStringLiteral("Hold"));
    QCOMPARE(log[0].setpointcolour[0], plain);
    QCOMPARE(log[1].mode, QStringLiteral("Wait"));
    QCOMPARE(log[1].dwellcolour[0], green);

    const QList<DwellSeen> dwells = dwellsin(log);
    QCOMPARE(dwells.size(), 2);
    // Dwell 1 begins one tick after its approach started, in the tick that ended dwell 0.
    QCOMPARE(dwells[1].start, dwells[0].end + 1);
    QCOMPARE(settempsin(log[dwells[0].end].frames), QList<int>{230});
}

// Dwells beyond 16 bits count in full, and absurd ones are capped, never wrapped.
void tst_cycle::longdwells()
{
    Rig rig;
    QVERIFY(rig.openport());
    rig.profile({"30.0", "25.0"}, {"40000", "1"}, "1");
    rig.temperatureat(250);

    rig.clickrun();
    QVERIFY(rig.tickuntil([&] { return rig.mode()->text() == QLatin1String("Wait"); }) > 0);
    QVERIFY(rig.tickuntil([&] { return rig.countdown()->text() != QLatin1String("0"); }, 4) > 0);
    QCOMPARE(rig.countdown()->text(), QStringLiteral("39999"));
    QVERIFY(rig.tickuntil([&] { return rig.countdown()->text() != QLatin1String("39999"); }, 4) >
            0);
    QCOMPARE(rig.countdown()->text(), QStringLiteral("39998"));
    rig.clickrun();
    QCOMPARE(rig.countdown()->text(), QStringLiteral("0"));

    // A pasted 1 followed by 300 zeros, then left as the operator would leave the field.
    rig.dwells(0)->setText(QStringLiteral("1") + QString(300, QLatin1Char('0')));
    rig.window.dwells_LostFocus(0);
    rig.clickrun();
    QVERIFY(rig.tickuntil([&] { return rig.mode()->text() == QLatin1String("Wait"); }) > 0);
    QVERIFY(rig.tickuntil([&] { return rig.countdown()->text() != QLatin1String("0"); }, 4) > 0);
    const QString shown = rig.countdown()->text();
    bool whole = false;
    const qlonglong left = shown.toLongLong(&whole);
    QVERIFY2(whole && left >= 39999, qPrintable(shown));
    rig.ticks(8);
    QCOMPARE(rig.mode()->text(), QStringLiteral("Wait"));
    QCOMPARE(rig.countdown()->text(), QString::number(left - 2));
    rig.clickrun();
    QString why;
    QVERIFY2(rig.idle(&why), qPrintable(why));
    QCOMPARE(rig.alerts.titles(), QStringList());
}

// A tick that falls due inside another tick's pause takes no step and sends no poll; only its
// dwell clock runs.
void tst_cycle::nestedticks()
{
    Rig rig;
    QVERIFY(rig.openport());
    rig.profile({"40.0", "30.0"}, {"1", "1"}, "2");
    rig.temperatureat(250);

    // Every setpoint sent is followed, inside its pause, by one more tick.
    int nested = 0;
    bool inside = false;
    rig.controller.after = [&](const QByteArray &frame) {
        if (inside || !issettemp(frame))
            return;
        inside = true;
        ++nested;
        rig.window.Timer1_Timer();
        inside = false;
    };

    rig.clickrun();
    const TickRecord first = rig.tick();
    QCOMPARE(nested, 1);
    QCOMPARE(first.counter, QStringLiteral("1")); // a repeated step 0 would count 2
    QCOMPARE(first.frames.size(), 2);
    QCOMPARE(first.frames[0], readtempframe);
    QCOMPARE(settempsin(first.frames), QList<int>{400});

    QList<TickRecord> log = rig.runtoend();
    log.prepend(first);
    QVERIFY2(!log.last().running, "the run never ended");
    QCOMPARE(nested, 6); // each setpoint, the two rest setpoints included
    QCOMPARE(settempsin(rig.fake.sent), (QList<int>{400, 300, 400, 300, 250, 250}));
    for (const TickRecord &record : log)
        QCOMPARE(record.frames.count(readtempframe), 1);
    QCOMPARE(log.last().counter, QStringLiteral("2"));

    // During a dwell, a tick nested in every poll doubles the clock but sends nothing.
    rig.controller.after = {};
    rig.profile({"40.0", "30.0"}, {"3", "1"}, "1");
    rig.clickrun();
    QVERIFY(rig.tickuntil([&] { return rig.mode()->text() == QLatin1String("Wait"); }) > 0);
    rig.controller.after = [&](const QByteArray &frame) {
        if (inside || frame != readtempframe)
            return;
        inside = true;
        rig.window.Timer1_Timer();
        inside = false;
    };
    const qsizetype sent = rig.fake.sent.size();
    rig.ticks(4); // eight clock ticks: exactly two seconds of the three
    QCOMPARE(rig.fake.sent.mid(sent), QList<QByteArray>(4, readtempframe));
    QCOMPARE(rig.countdown()->text(), QStringLiteral("1"));
    QCOMPARE(rig.mode()->text(), QStringLiteral("Wait"));
    rig.controller.after = {};
    rig.clickrun();
    QCOMPARE(rig.alerts.titles(), QStringList());
}

// "Run" cleared and ticked again by clicks that arrive during a pause: the new run must stand, not be
// undone by the stop or the step that resume after the pause.
void tst_cycle::restartinsidepause()
{
    Rig rig;
    QVERIFY(rig.openport());
    rig.profile({"40.0", "30.0"}, {"1", "1"}, "1");
    rig.temperatureat(250);
    const auto restarted = [&](const TickRecord &record) {
        QString why;
        return record.running && record.counter == QLatin1String("1") &&
               record.mode == QLatin1String("Heat") &&
               settempsin(record.frames) == QList<int>{400} && !rig.idle(&why) &&
               rig.setpoints(0)->isReadOnly();
    };

    // Cleared and ticked again inside the stop's pause, between two ticks.
    rig.clickrun();
    rig.ticks(2);
    int stage = 0;
    rig.controller.after = [&](const QByteArray &frame) {
        if (frame == settemp250 && stage == 0) {
            stage = 1;
            rig.clickrun();
        }
    };
    rig.clickrun();
    QCOMPARE(stage, 1);
    rig.controller.after = {};
    QVERIFY(rig.run()->isChecked());
    QCOMPARE(rig.cycles(1)->text(), QStringLiteral("0"));
    QVERIFY(rig.setpoints(0)->isReadOnly());
    QVERIFY(!rig.get<QPushButton>("Command1(0)")->isEnabled());
    rig.temperatureat(250);
    QVERIFY(restarted(rig.tick()));

    // Cleared inside the pause of a step's setpoint, and ticked again inside the stop's pause.
    rig.clickrun();
    rig.temperatureat(250);
    rig.clickrun();
    stage = 0;
    rig.controller.after = [&](const QByteArray &frame) {
        if (!issettemp(frame))
            return;
        if (stage == 0) {
            stage = 1;
            rig.clickrun();
        } else if (stage == 1) {
            stage = 2;
            rig.clickrun();
        }
    };
    const TickRecord interrupted = rig.tick();
    QCOMPARE(stage, 2);
    rig.controller.after = {};
    QCOMPARE(settempsin(interrupted.frames), (QList<int>{400, 250}));
    QVERIFY(interrupted.running);
    rig.temperatureat(250);
    QVERIFY(restarted(rig.tick()));

    // Cleared and ticked again inside the stop that ends the last cycle.
    const QList<TickRecord> log = [&] {
        stage = 0;
        rig.controller.after = [&](const QByteArray &frame) {
            if (frame == settemp250 && stage == 0 && rig.cycles(1)->text() == QLatin1String("1") &&
                !rig.run()->isChecked()) {
                stage = 1;
                rig.clickrun();
            }
        };
        QList<TickRecord> ticks;
        while (ticks.size() < 60 && stage == 0)
            ticks << rig.tick();
        rig.controller.after = {};
        return ticks;
    }();
    QCOMPARE(stage, 1);
    QVERIFY(log.last().running);
    QCOMPARE(settempsin(log.last().frames), QList<int>{250}); // the second stop did not run
    QVERIFY(rig.setpoints(0)->isReadOnly());
    rig.temperatureat(250);
    QVERIFY(restarted(rig.tick()));
    rig.clickrun();
    QString why;
    QVERIFY2(rig.idle(&why), qPrintable(why));
    QCOMPARE(rig.alerts.titles(), QStringList());
}

// Point 3 can only be in the cycle together with point 2, whatever the operator clicks.
void tst_cycle::rampenableinvariant()
{
    Rig rig;
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    QCheckBox *point2 = rig.box("rampenable(0)");
    QCheckBox *point3 = rig.box("rampenable(1)");
    const auto state = [&] {
        return QStringLiteral("%1%2").arg(int(point2->isChecked())).arg(int(point3->isChecked()));
    };

    QTest::mouseClick(point3, Qt::LeftButton); // undone at once
    QCOMPARE(state(), QStringLiteral("00"));
    QTest::mouseClick(point2, Qt::LeftButton);
    QCOMPARE(state(), QStringLiteral("10"));
    QTest::mouseClick(point3, Qt::LeftButton);
    QCOMPARE(state(), QStringLiteral("11"));
    QTest::mouseClick(point3, Qt::LeftButton);
    QCOMPARE(state(), QStringLiteral("10"));
    QTest::mouseClick(point3, Qt::LeftButton);
    QTest::mouseClick(point2, Qt::LeftButton); // clearing point 2 takes point 3 with it
    QCOMPARE(state(), QStringLiteral("00"));

    // During a run the boxes can't be changed.
    QTest::mouseClick(point2, Qt::LeftButton);
    QVERIFY(rig.openport());
    rig.clickrun();
    QTest::mouseClick(point2, Qt::LeftButton);
    QTest::mouseClick(point3, Qt::LeftButton);
    QCOMPARE(state(), QStringLiteral("10"));
    rig.clickrun();
    QCOMPARE(rig.alerts.titles(), QStringList());
}

// "Auto" polls once a tick while a port is open and never takes a step; without a port, and
// with neither box ticked, nothing is sent.
void tst_cycle::polling()
{
    Rig rig;
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    QVERIFY(rig.openport());
    rig.temperatureat(250);
    rig.controller.setpoint = 400;
    rig.controller.rate = 10;

    rig.ticks(3);
    QCOMPARE(rig.fake.sent.size(), 0);

    // Freshly loaded, the step is 0: a step taken without "Run" would send a setpoint.
    QTest::mouseClick(rig.box("autoread"), Qt::LeftButton);
    QVERIFY(rig.box("autoread")->isChecked());
    for (int i = 1; i <= 5; ++i) {
        const TickRecord record = rig.tick();
        QCOMPARE(record.frames, QList<QByteArray>{readtempframe});
        QCOMPARE(record.temperature, QString::number(25.0 + i, 'f', 1));
    }
    QCOMPARE(rig.fake.sent.size(), 5);

    // After a stopped run the step is -1: still one poll a tick and nothing more.
    rig.clickrun();
    rig.clickrun();
    qsizetype sent = rig.fake.sent.size();
    rig.ticks(3);
    QCOMPARE(rig.fake.sent.mid(sent), QList<QByteArray>(3, readtempframe));

    // "Select" closes the port: the tick neither sends nor complains.
    rig.ports()->setCurrentIndex(0);
    QVERIFY(rig.fake.openport.isEmpty());
    const qsizetype calls = rig.fake.calls.size();
    rig.ticks(8);
    QCOMPARE(rig.fake.calls.mid(calls), QStringList());
    QCOMPARE(rig.alerts.titles(), QStringList());
}

// "Set Temp" sends the field's tenths, and refuses what the register can't hold; "Read Temp"
// reads.
void tst_cycle::manualcommands()
{
    Rig rig;
    QVERIFY(QTest::qWaitForWindowActive(&rig.window));
    auto *settemp = rig.get<QPushButton>("Command1(0)");
    auto *readtemp = rig.get<QPushButton>("Command1(1)");
    QLineEdit *setpoint = rig.field("setpoint");

    // Without a port nothing goes out, and the operator is told.
    QTest::mouseClick(settemp, Qt::LeftButton);
    QCOMPARE(rig.alerts.titles(), QStringList{"Serial port error"});
    QVERIFY(rig.fake.sent.isEmpty());
    rig.alerts.seen.clear();

    QVERIFY(rig.openport());
    QTest::mouseClick(settemp, Qt::LeftButton);
    QCOMPARE(rig.fake.sent, QList<QByteArray>{settemp250});

    // Typed and left for the button: the field is normalised before the click reads it.
    const auto typed = [&](const QString &text) {
        // a closed alert leaves the offscreen window inactive, and focus moves only in an active
        // one
        rig.window.activateWindow();
        if (!QTest::qWaitForWindowActive(&rig.window))
            return QList<QByteArray>{QByteArray("window not active")};
        setpoint->setFocus();
        setpoint->clear();
        QTest::keyClicks(setpoint, text);
        const qsizetype before = rig.fake.sent.size();
        QTest::mouseClick(settemp, Qt::LeftButton);
        return rig.fake.sent.mid(before);
    };
    QCOMPARE(typed(QStringLiteral("80.5")), QList<QByteArray>{settemp805});
    QCOMPARE(typed(QStringLiteral("6553.5")), QList<QByteArray>{settemp65535});
    QCOMPARE(rig.alerts.titles(), QStringList());

    // Beyond 16 bits the frame would carry some other temperature: nothing is sent.
    QCOMPARE(typed(QStringLiteral("6553.6")), QList<QByteArray>());
    QCOMPARE(typed(QStringLiteral("7000")), QList<QByteArray>());
    QCOMPARE(setpoint->text(), QStringLiteral("7000.0"));
    QCOMPARE(rig.alerts.titles(), (QStringList{"Setpoint error", "Setpoint error"}));
    // A minus can't be typed, but a pasted one reaches the button as it stands.
    rig.alerts.seen.clear();
    setpoint->setText(QStringLiteral("-3276.8"));
    rig.window.Command1_Click(0);
    QCOMPARE(rig.fake.sent.last(), settempminus32768);
    const qsizetype sent = rig.fake.sent.size();
    setpoint->setText(QStringLiteral("-3276.9"));
    rig.window.Command1_Click(0);
    setpoint->setText(QStringLiteral("1") + QString(400, QLatin1Char('0')));
    rig.window.Command1_Click(0);
    QCOMPARE(rig.fake.sent.size(), sent);
    QCOMPARE(rig.alerts.titles(), (QStringList{"Setpoint error", "Setpoint error"}));
    // The frame itself keeps the low 16 bits; the refusal belongs to the button.
    QCOMPARE(framefor(u"settemp", 65536 + 250), settemp250);

    rig.alerts.seen.clear();
    rig.controller.temperature = 512;
    rig.controller.setpoint = 512;
    QTest::mouseClick(readtemp, Qt::LeftButton);
    QCOMPARE(rig.fake.sent.last(), readtempframe);
    QCOMPARE(rig.field("currenttemp")->text(), QStringLiteral("51.2"));
    QCOMPARE(rig.alerts.titles(), QStringList());
}

// A port that vanishes during a run ends the run and is reported once; so does one that
// vanishes inside a poll, which then takes no step.
void tst_cycle::portlost()
{
    Rig rig;
    QVERIFY(rig.openport());
    rig.profile({"40.0", "30.0"}, {"5", "5"}, "1");
    rig.temperatureat(250);

    rig.clickrun();
    QVERIFY(rig.tickuntil([&] { return rig.mode()->text() == QLatin1String("Wait"); }) > 0);
    rig.fake.lose(QStringLiteral("Input/output error"));
    QTRY_COMPARE(rig.alerts.seen.size(), 1);
    QCOMPARE(rig.alerts.seen[0].title, QStringLiteral("Com port error"));
    QVERIFY2(rig.alerts.seen[0].text.contains(QLatin1String("Input/output error")) &&
                 rig.alerts.seen[0].text.contains(QLatin1String("12")),
             qPrintable(rig.alerts.seen[0].text));
    QVERIFY(!rig.run()->isChecked());
    QVERIFY(!rig.run()->isEnabled());
    QCOMPARE(rig.ports()->currentText(), QStringLiteral("Select"));
    QString why;
    QVERIFY2(rig.idle(&why), qPrintable(why));

    const qsizetype calls = rig.fake.calls.size();
    rig.ticks(8);
    QCOMPARE(rig.fake.calls.mid(calls), QStringList());
    QCOMPARE(rig.alerts.seen.size(), 1);

    // Chosen again, the port takes a new run; this time it vanishes inside a poll.
    QVERIFY(rig.openport());
    rig.alerts.seen.clear();
    rig.clickrun();
    bool lost = false;
    rig.controller.after = [&](const QByteArray &frame) {
        if (!lost && frame == readtempframe) {
            lost = true;
            rig.fake.lose(QStringLiteral("No such device"));
        }
    };
    const qsizetype before = rig.fake.calls.size();
    const TickRecord record = rig.tick();
    QVERIFY(lost);
    // Only the poll went out: no step, and no rest setpoint on a dead line.
    QCOMPARE(rig.fake.calls.mid(before).filter(QStringLiteral("send")).size(), 1);
    QCOMPARE(record.frames, QList<QByteArray>{readtempframe});
    QVERIFY(!record.running);
    QCOMPARE(rig.alerts.titles(), QStringList{"Com port error"});
    QVERIFY(rig.alerts.seen[0].text.contains(QLatin1String("No such device")));
    QVERIFY2(rig.idle(&why), qPrintable(why));
    QCOMPARE(rig.ports()->currentText(), QStringLiteral("Select"));
}

QTEST_MAIN(tst_cycle)
#include "tst_cycle.moc"
