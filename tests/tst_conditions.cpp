// The rules of an unattended run by tables: the band, the guaranteed soak, the alarm clocks.
#include "conditions/conditionwatch.h"
#include "run/runfeed.h"

#include <QtTest>

using namespace chamber;

namespace {

RunConditions conditionsOf(const QByteArray &line)
{
    QString error;
    const std::optional<RunConditions> conditions = parseConditionsLine(line, error);
    if (!conditions)
        qFatal("bad conditions in a row: %s", qPrintable(error));
    return *conditions;
}

// A run played to a watch on a clock of its own. The script's words: a number is a reading;
// "Heat:85" begins the approach to the next point; "Wait" begins its dwell; "again" is the
// controller heard again; "end" ends the run; "|" lets one second pass and takes the tick's
// once-a-second step. What each step gave: "+" when the dwell second counts, "-" when not,
// each followed by the watch's events in brackets.
struct Play
{
    Play(const QByteArray &conditions, const QString &port = "COM1")
    {
        QObject::connect(&feed, &RunFeed::fact, &watch, &ConditionWatch::take);
        QObject::connect(&feed, &RunFeed::fact, [this](const RunFact &fact) {
            if (stepping)
                told += "[" + fact.text + "]";
        });
        RunSetup setup;
        setup.port = port;
        setup.profile.conditions = conditionsOf(conditions);
        state.phase = "Hold";
        feed.beginRun(setup, state);
    }
    QString run(const QString &script)
    {
        QStringList steps;
        for (const QString &word : script.split(' ', Qt::SkipEmptyParts)) {
            RunFact fact = state;
            if (word == "|") {
                now += 1000;
                stepping = true;
                steps << (watch.second() ? "+" : "-");
                stepping = false;
                steps.last() += std::exchange(told, {});
                continue;
            } else if (word == "end") {
                feed.endRun(fact);
                continue;
            } else if (word == "again") {
                fact.text = "replies again";
            } else if (word == "Wait") {
                fact.kind = RunFact::Phase;
                state.phase = fact.phase = word;
            } else if (word.contains(':')) {
                state.phase = fact.phase = word.section(':', 0, 0);
                feed.tell(fact);
                fact.text = QString("approaching point %1").arg(++state.point + 1);
                feed.tell(fact);
                fact.kind = RunFact::SetpointSent;
                state.setpoint = fact.setpoint = word.section(':', 1).toDouble();
            } else {
                fact.kind = RunFact::Reading;
                fact.temperature = word.toDouble();
            }
            feed.tell(fact);
        }
        return steps.join(' ');
    }

    qint64 now = 0;
    RunFeed feed;
    ConditionWatch watch{&feed, [this] { return now; }};
    RunFact state; // the phase, setpoint and point as the window would tell them
    bool stepping = false;
    QString told;
};

} // namespace

class tst_conditions : public QObject
{
    Q_OBJECT
private slots:
    void band_data()
    {
        QTest::addColumn<QByteArray>("conditions");
        QTest::addColumn<double>("reading");
        QTest::addColumn<double>("setpoint");
        QTest::addColumn<bool>("in");
        const QByteArray half = R"({"tolerance_c":0.5})";
        QTest::newRow("both edges belong to the band") << half << 84.5 << 85.0 << true;
        QTest::newRow("the edge from above") << half << 85.5 << 85.0 << true;
        QTest::newRow("a tenth beyond") << half << 84.4 << 85.0 << false;
        QTest::newRow("tenths that binary cannot hold")
            << QByteArray(R"({"tolerance_c":0.2})") << 84.8 << 85.0 << true;
        QTest::newRow("no tolerance, no band, not even at the setpoint")
            << QByteArray(R"({"approach_limit_s":60})") << 85.0 << 85.0 << false;
    }
    // The band an approach ends in and a dwell is held to: setpoint ± tolerance, edges included.
    void band()
    {
        QFETCH(QByteArray, conditions);
        QFETCH(double, reading);
        QFETCH(double, setpoint);
        QFETCH(bool, in);
        Play play(conditions);
        QCOMPARE(play.watch.inBand(reading, setpoint), in);
        play.run("end");
        QVERIFY(!play.watch.inBand(setpoint, setpoint)); // only within its run
    }

    void clocks_data()
    {
        QTest::addColumn<QByteArray>("conditions");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("endsRun");
        const QByteArray soak = R"({"tolerance_c":0.5,"guaranteed_soak":true})";
        QTest::newRow("no conditions: every second counts, nothing is raised")
            << QByteArray("{}") << "COM1"
            << "Heat:85 80 | | Wait 70 | | |"
            << "+ + + + +" << false;
        QTest::newRow("soak: a second counts only with every reading in the band")
            << soak << "COM1"
            << "Heat:85 80 84 84.6 Wait | 85.2 85.5 | 83 85 | 85 | | 84.5 |"
            << "+ + -[soak paused] +[soak resumed] -[soak paused] +[soak resumed]" << false;
        QTest::newRow("soak: a dwell begun beyond the band begins paused")
            << soak << "COM1"
            << "Heat:85 86 Wait | 85 |"
            << "-[soak paused] +[soak resumed]" << false;
        QTest::newRow("soak: a pause belongs to its dwell") << soak << "COM1"
                                                            << "Heat:85 85 Wait 80 | Cool:25 80 |"
                                                            << "-[soak paused] +" << false;
        QTest::newRow("deviation: once per excursion longer than the delay, never on the way")
            << QByteArray(R"({"tolerance_c":2,"deviation_delay_s":2})") << "COM1"
            << "Heat:85 70 | | | 85 Wait | 81.4 | 81 | 81 | 85 | 80 | | | |"
            << "+ + + + + + +[alarm: out of tolerance] + + + +[alarm: out of tolerance] +" << false;
        QTest::newRow("deviation: a delay of 0 raises at the next second")
            << QByteArray(R"({"tolerance_c":2,"deviation_delay_s":0})") << "COM1"
            << "Heat:85 85 Wait | 82.9 | |"
            << "+ +[alarm: out of tolerance] +" << false;
        QTest::newRow("approach: each approach longer than the limit, once")
            << QByteArray(R"({"approach_limit_s":2})") << "COM1"
            << "Heat:85 80 | 81 | 82 | 83 | Wait | Cool:25 | | | |"
            << "+ + +[alarm: setpoint not reached] + + + + +[alarm: setpoint not reached] +"
            << false;
        QTest::newRow("silence: from the last reading, or from a reply that was no reading")
            << QByteArray(R"({"silence_limit_s":2})") << "COM1"
            << "Heat:85 80 | | | | 81 | | | again | | |"
            << "+ + +[alarm: no reply] + + + +[alarm: no reply] + + +[alarm: no reply]" << false;
        QTest::newRow("silence: a run with no port polls nothing and is never silent")
            << QByteArray(R"({"silence_limit_s":1})") << "none"
            << "Heat:85 | | |"
            << "+ + +" << false;
        QTest::newRow("on alarm end: the first alarm ends the run")
            << QByteArray(R"({"approach_limit_s":1,"on_alarm":"end"})") << "COM1"
            << "Heat:85 | |"
            << "+ +[alarm: setpoint not reached]" << true;
        QTest::newRow("on alarm end: a run's end clears it, and its clocks")
            << QByteArray(R"({"approach_limit_s":1,"on_alarm":"end"})") << "COM1"
            << "Heat:85 | | end | |"
            << "+ +[alarm: setpoint not reached] + +" << false;
    }
    // The soak gate and the three alarm clocks, second by second.
    void clocks()
    {
        QFETCH(QByteArray, conditions);
        QFETCH(QString, port);
        QFETCH(QString, script);
        QFETCH(QString, steps);
        QFETCH(bool, endsRun);
        Play play(conditions, port);
        QCOMPARE(play.run(script), steps);
        QCOMPARE(play.watch.endsRun(), endsRun);
    }

    void description_data()
    {
        QTest::addColumn<QByteArray>("conditions");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("point");
        QTest::addColumn<double>("reading");
        QTest::addColumn<QString>("text");
        QTest::newRow("out of tolerance: the reading against the band")
            << QByteArray(R"({"tolerance_c":2,"deviation_delay_s":60})") << "out of tolerance" << 1
            << 81.4 << "out of tolerance at point 2: 81.4 °C, setpoint 85.0 ± 2.0";
        QTest::newRow("not reached, a finer band")
            << QByteArray(R"({"tolerance_c":0.25,"approach_limit_s":3600})")
            << "setpoint not reached" << 0 << 84.7
            << "setpoint not reached at point 1 within 3600 s: 84.7 °C, setpoint 85.0 ± 0.25";
        QTest::newRow("not reached before any reading, no band")
            << QByteArray(R"({"approach_limit_s":60})") << "setpoint not reached" << 0 << qQNaN()
            << "setpoint not reached at point 1 within 60 s: setpoint 85.0";
        QTest::newRow("no reply")
            << QByteArray(R"({"silence_limit_s":30})") << "no reply" << 3 << 85.0
            << "no reply at point 4: the controller has not answered for 30 s";
    }
    // What an alarm says to the operator, from its fact and the last reading.
    void description()
    {
        QFETCH(QByteArray, conditions);
        QFETCH(QString, kind);
        QFETCH(int, point);
        QFETCH(double, reading);
        QFETCH(QString, text);
        RunSetup setup;
        setup.profile.conditions = conditionsOf(conditions);
        RunFact alarm;
        alarm.text = "alarm: " + kind;
        alarm.point = point;
        alarm.setpoint = 85.0;
        alarm.setup = std::make_shared<const RunSetup>(setup);
        QCOMPARE(alarmKind(alarm), kind);
        QCOMPARE(alarmDescription(alarm, reading), text);
    }
};

QTEST_GUILESS_MAIN(tst_conditions)
#include "tst_conditions.moc"
