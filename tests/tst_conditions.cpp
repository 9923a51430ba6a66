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

} // namespace

class tst_conditions : public QObject
{
    Q_OBJECT
private slots:
    void clocks_data()
    {
        QTest::addColumn<QString>("conditions");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("steps");
        const auto row = [](const char *name, const char *conditions, const char *script,
                            const char *steps) {
            QTest::newRow(name) << QString(conditions) << QString(script) << QString(steps);
        };
        row("no conditions: every second counts, nothing is raised", "{}",
            "Heat:85 80 | | Wait 70 | | |", "+ + + + +");
        row("soak: a second counts only with every reading in the band, the edges in",
            R"({"tolerance_c":0.5,"guaranteed_soak":true})",
            "Heat:85 80 84 84.6 Wait | 85.2 85.5 | 83 85 | 85 | | 84.5 |",
            "+ + -[soak paused] +[soak resumed] -[soak paused] +[soak resumed]");
        row("soak: a dwell begun beyond the band begins paused; tenths in binary",
            R"({"tolerance_c":0.2,"guaranteed_soak":true})", "Heat:85 85.3 Wait | 84.8 | 84.7 |",
            "-[soak paused] +[soak resumed] -[soak paused]");
        row("deviation: once per excursion longer than the delay, never on the way",
            R"({"tolerance_c":2,"deviation_delay_s":2})",
            "Heat:85 70 | | | 85 Wait | 81.4 | 81 | 81 | 85 | 80 | | | |",
            "+ + + + + + +[alarm: out of tolerance] + + + +[alarm: out of tolerance] +");
        row("deviation: a delay of 0 raises at the next second",
            R"({"tolerance_c":2,"deviation_delay_s":0})", "Heat:85 85 Wait | 82.9 | |",
            "+ +[alarm: out of tolerance] +");
        row("approach: each approach longer than the limit, once", R"({"approach_limit_s":2})",
            "Heat:85 80 | 81 | 82 | 83 | Wait | Cool:25 | | | |",
            "+ + +[alarm: setpoint not reached] + + + + +[alarm: setpoint not reached] +");
        row("silence: from the last reading, or from a reply that was no reading",
            R"({"silence_limit_s":2})", "Heat:85 80 | | | | 81 | | | again | | |",
            "+ + +[alarm: no reply] + + + +[alarm: no reply] + + +[alarm: no reply]");
        row("silence: a run with no port polls nothing and is never silent",
            R"({"silence_limit_s":1})", "none Heat:85 | | |", "+ + +");
        row("on alarm end: the first alarm ends the run",
            R"({"approach_limit_s":1,"on_alarm":"end"})", "Heat:85 | | ends",
            "+ +[alarm: setpoint not reached] ends");
        row("on alarm end: the run's end clears it, and its clocks",
            R"({"approach_limit_s":1,"on_alarm":"end"})", "Heat:85 | | end | | ends",
            "+ +[alarm: setpoint not reached] + + goes on");
    }
    // A run played to the watch on a clock of the test's own, second by second. The script's
    // words: "none" begins the run with no port (first, else it has COM1); a number is a
    // reading; "Heat:85" begins the approach to the next point; "Wait" its dwell; "again" is a
    // reply that was no reading; "end" ends the run; "|" lets a second pass and takes the tick's
    // once-a-second step, which gives "+" when the dwell second counts, "-" when not, then the
    // watch's events in brackets; "ends" says whether the watch would end the run.
    void clocks()
    {
        QFETCH(QString, conditions);
        QFETCH(QString, script);
        QFETCH(QString, steps);
        qint64 now = 0;
        RunFeed feed;
        ConditionWatch watch(&feed, [&] { return now; });
        connect(&feed, &RunFeed::fact, &watch, &ConditionWatch::take);
        QString told; // events
        connect(&feed, &RunFeed::fact, this, [&](const RunFact &fact) {
            if (fact.kind == RunFact::Event)
                told += "[" + fact.text + "]";
        });
        RunSetup setup;
        setup.port = script.startsWith("none") ? "none" : "COM1";
        setup.profile.conditions = conditionsOf(conditions.toUtf8());
        RunFact state; // the phase, setpoint and point as the window would tell them
        state.phase = "Hold";
        feed.beginRun(setup, state);
        QStringList played;
        for (const QString &word : script.split(' ')) {
            RunFact fact = state;
            if (word == "|") {
                now += 1000;
                told.clear();
                const bool counts = watch.second();
                played << (counts ? "+" : "-") + told;
                continue;
            }
            if (word == "ends")
                played << (watch.endsRun() ? "ends" : "goes on");
            else if (word == "end")
                feed.endRun(fact);
            if (word == "ends" || word == "end" || word == "none")
                continue;
            if (word == "again") {
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
        QCOMPARE(played.join(' '), steps);
    }

    // An alarm's words where neither band nor reading has a part (the others show on the bar).
    void description()
    {
        RunSetup setup;
        setup.profile.conditions = conditionsOf(R"({"silence_limit_s":30})");
        RunFact alarm;
        alarm.text = "alarm: no reply";
        alarm.point = 1;
        alarm.setup = std::make_shared<const RunSetup>(setup);
        QCOMPARE(alarmDescription(alarm, 85.0),
                 "no reply at point 2: the controller has not answered for 30 s");
    }
};

QTEST_GUILESS_MAIN(tst_conditions)
#include "tst_conditions.moc"
