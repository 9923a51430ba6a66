// The analysis behind a run's report: small hand-made records, whole, stopped, cut and old.
#include "record/recordfile.h"
#include "report/runanalysis.h"
#include "support/handrecord.h"

#include <QJsonArray>
#include <QtTest>

using namespace chamber;

namespace {

// A record of one run with points 30.0 C and 25.0 C held 3 s each for one cycle; conditions is
// the record's conditions line, or none.
QByteArray record(const QByteArray &conditions, const QList<QByteArray> &rows,
                  bool namesPoints = true)
{
    return handRecord(
        "# point 1: setpoint 30.0 C, dwell 3 s, used\n"
        "# point 2: setpoint 25.0 C, dwell 3 s, used\n"
        "# point 3: setpoint 35.0 C, dwell 5 s, not used\n"
        "# point 4: setpoint 25.0 C, dwell 5 s, not used\n"
        "# cycles: 1\n" +
            (conditions.isEmpty() ? QByteArray() : "# conditions: " + conditions + "\n"),
        rows, namesPoints);
}

// A whole run: heating to 30 C from 25 C in 2 s, 3 s held, cooling to 25 C in 2 s, 3 s held.
const QList<QByteArray> wholeRun = {
    "0 - - Hold 0 0 run started",
    "0.25 25.0 - Hold 0 0",
    "0.5 - - Hold 1 0 new cycle",
    "0.5 - - Heat 1 0 phase change",
    "0.5 - - Heat 1 0 approaching point 1",
    "0.5 - 30.0 Heat 1 0 setpoint sent",
    "1.5 27.0 30.0 Heat 1 0",
    "2.5 30.1 30.0 Heat 1 0",
    "2.5 - 30.0 Wait 1 0 phase change",
    "3.5 30.3 30.0 Wait 1 0",
    "4.5 29.9 30.0 Wait 1 1",
    "5.5 - 30.0 Cool 1 1 phase change",
    "5.5 - 30.0 Cool 1 1 approaching point 2",
    "5.5 - 25.0 Cool 1 1 setpoint sent",
    "6.5 27.5 25.0 Cool 1 1",
    "7.5 24.9 25.0 Cool 1 1",
    "7.5 - 25.0 Wait 1 1 phase change",
    "8.5 25.0 25.0 Wait 1 1",
    "9.5 25.1 25.0 Wait 1 1",
    "10.5 - 25.0 Wait 1 1 setpoint sent",
    "10.5 - 25.0 Hold 1 1 phase change",
    "10.5 - 25.0 Hold 1 1 completed",
};

// The figures of each point, one line each, and the run's verdict and end.
QString figures(const RunAnalysis &analysis)
{
    const QJsonObject summary = analysis.summary();
    QStringList lines;
    for (const QJsonValue &value : summary.value("points").toArray()) {
        const QJsonObject p = value.toObject();
        const auto number = [&](const char *key) {
            const QJsonValue v = p.value(QLatin1String(key));
            return v.isNull() ? QStringLiteral("-") : QString::number(v.toDouble());
        };
        lines << QStringLiteral("c%1p%2 %3 approach %4 rate %5 over %6 held %7/%8%9 band %10/%11 "
                                "dwell %12..%13~%14 alarms %15 silent %16 errors %17 %18")
                     .arg(p.value("cycle").toInt())
                     .arg(p.value("point").toInt())
                     .arg(p.value("direction").toString("-"), number("approach_s"),
                          number("rate_k_per_min"), number("overshoot_c"), number("dwell_held_s"),
                          number("dwell_planned_s"),
                          p.value("dwell_complete").toBool() ? "" : " cut", number("in_band_s"),
                          number("out_of_band_s"), number("min_c"), number("max_c"),
                          number("mean_c"))
                     .arg(p.value("alarms").toArray().size())
                     .arg(number("silent_s"))
                     .arg(p.value("errors").toInt())
                     .arg(p.value("passed").isNull()   ? "-"
                          : p.value("passed").toBool() ? "pass"
                                                       : "fail");
    }
    lines << summary.value("verdict").toString() + " " + summary.value("ending").toString("-");
    return lines.join('\n');
}

const QString wholePoint1 = "c1p1 heat approach 2 rate 136 over 0.3 held 3/3 band 3/0 "
                            "dwell 29.9..30.3~30.1 alarms 0 silent 0 errors 1 pass";
const QString wholePoint2 = "c1p2 cool approach 2 rate -100 over 0.1 held 3/3 band 3/0 "
                            "dwell 25..25.1~25.05 alarms 0 silent 0 errors 0 pass";

// Killed 1 s into point 1's dwell and resumed 100 s later: its setpoint approached again, then
// only the 2 s left of its dwell, and the run goes on as before.
QList<QByteArray> resumedRun()
{
    QList<QByteArray> resumed = wholeRun.mid(0, 10);
    resumed += {"103.5 - 30.0 Hold 1 0 resumed after restart, gap 100 s",
                "103.75 29.0 30.0 Hold 1 0",
                "103.75 - 30.0 Heat 1 0 phase change",
                "103.75 - 30.0 Heat 1 0 approaching point 1",
                "103.75 - 30.0 Heat 1 0 setpoint sent",
                "104.25 30.0 30.0 Heat 1 0",
                "104.25 - 30.0 Wait 1 0 phase change",
                "104.75 30.1 30.0 Wait 1 0"};
    for (const QByteArray &row : wholeRun.mid(11)) { // from point 2's approach on
        QList<QByteArray> f = row.split(' ');
        f[0] = QByteArray::number(f[0].toDouble() + 100.75);
        resumed << f.join(' ');
    }
    return resumed;
}

const QString resumedFigures =
    "c1p1 heat approach 2 rate 136 over 0.3 held 3/3 band 3/0 dwell 30.1..30.3~30.2 alarms 0 "
    "silent 0 errors 1 pass\n"
    "c1p2 cool approach 2 rate -89.143 over 0.1 held 3/3 band 3/0 dwell 25..25.1~25.05 alarms 0 "
    "silent 0 errors 0 pass\npass completed";

} // namespace

class tst_runanalysis : public QObject
{
    Q_OBJECT
private slots:
    void runs_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        const QByteArray band = R"({"tolerance_c":0.5})";
        QTest::newRow("whole run in the band")
            << record(band, wholeRun) << wholePoint1 + "\n" + wholePoint2 + "\npass completed";
        QTest::newRow("no tolerance: every figure, no verdict")
            << record({}, wholeRun)
            << "c1p1 heat approach 2 rate 136 over 0.3 held 3/3 band -/- dwell 29.9..30.3~30.1 "
               "alarms 0 silent 0 errors 1 -\n"
               "c1p2 cool approach 2 rate -100 over 0.1 held 3/3 band -/- dwell 25..25.1~25.05 "
               "alarms 0 silent 0 errors 0 -\nnone completed";

        QList<QByteArray> outside = wholeRun;
        outside[9] = "3.5 30.8 30.0 Wait 1 0"; // 0.8 and 0.9 above for the dwell's last 2 s
        outside[10] = "4.5 30.9 30.0 Wait 1 1";
        const QString outsidePoints =
            "c1p1 heat approach 2 rate 136 over 0.9 held 3/3 band 1/2 dwell 30.8..30.9~30.85 "
            "alarms 0 silent 0 errors 1 fail\n"
            "c1p2 cool approach 2 rate -120 over 0.1 held 3/3 band 3/0 dwell 25..25.1~25.05 "
            "alarms 0 silent 0 errors 0 pass\nfail completed";
        QTest::newRow("readings out of the band fail their point")
            << record(band, outside) << outsidePoints;
        QTest::newRow("a guaranteed soak not made up for fails too")
            << record(R"({"tolerance_c":0.5,"guaranteed_soak":true})", outside) << outsidePoints;

        QList<QByteArray> soaked = wholeRun;
        soaked[10] = "4.5 - 30.0 Wait 1 1 soak paused";
        soaked.insert(11, "4.5 30.8 30.0 Wait 1 1");
        soaked.insert(12, "5.0 - 30.0 Wait 1 1 soak resumed");
        soaked.insert(13, "5.0 30.0 30.0 Wait 1 1");
        soaked.insert(14, "5.5 30.1 30.0 Wait 1 1");
        for (int i = 15; i < soaked.size(); ++i) { // everything after comes 1 s later
            QList<QByteArray> f = soaked[i].split(' ');
            f[0] = QByteArray::number(f[0].toDouble() + 1);
            soaked[i] = f.join(' ');
        }
        QTest::newRow("a soak held longer for its time out")
            << record(R"({"tolerance_c":0.5,"guaranteed_soak":true})", soaked)
            << "c1p1 heat approach 2 rate 136 over 0.8 held 4/3 band 3.5/0.5 "
               "dwell 30..30.8~30.3 alarms 0 silent 0 errors 1 pass\n"
               "c1p2 cool approach 2 rate -104 over 0.1 held 3/3 band 3/0 dwell 25..25.1~25.05 "
               "alarms 0 silent 0 errors 0 pass\npass completed";

        QList<QByteArray> alarmed = wholeRun;
        alarmed.insert(16, "7.0 - 25.0 Cool 1 1 alarm: setpoint not reached");
        QTest::newRow("an alarm fails its point, not the others")
            << record(band, alarmed)
            << wholePoint1 + "\nc1p2 cool approach 2 rate -100 over 0.1 held 3/3 band 3/0 "
                             "dwell 25..25.1~25.05 alarms 1 silent 0 errors 0 fail\nfail completed";

        QList<QByteArray> silent = wholeRun;
        silent.insert(10, "4.0 - 30.0 Wait 1 0 no reply");
        silent.insert(11, "4.5 - 30.0 Wait 1 0 replies again");
        QTest::newRow("a silence in a dwell leaves it unproven")
            << record(band, silent)
            << "c1p1 heat approach 2 rate 136 over 0.3 held 3/3 band 2.5/0 "
               "dwell 29.9..30.3~30.1 alarms 0 silent 0.5 errors 1 fail\n" +
                   wholePoint2 + "\nfail completed";

        // stopped in the first dwell: the rest setpoint of 25.0 C is point 2's too
        const QList<QByteArray> stopped =
            wholeRun.mid(0, 10) + QList<QByteArray>{"4.6 - 25.0 Wait 1 1 setpoint sent",
                                                    "4.6 - 25.0 Hold 1 1 phase change",
                                                    "4.6 - 25.0 Hold 1 1 stopped by the "
                                                    "operator"};
        const QString stoppedPoint = "c1p1 heat approach 2 rate 136 over 0.3 held 2.1/3 cut "
                                     "band 2.1/0 dwell 30.3..30.3~30.3 alarms 0 silent 0 errors "
                                     "1 fail\nfail stopped by the operator";
        QTest::newRow("stopped in a dwell") << record(band, stopped) << stoppedPoint;
        QTest::newRow("0.2.0: the stop's rest setpoint is not point 2")
            << record(band, stopped, false) << stoppedPoint;
        QTest::newRow("0.2.0: points inferred from the setpoints sent")
            << record(band, wholeRun, false)
            << wholePoint1 + "\n" + wholePoint2 + "\npass completed";

        // the chamber at point 2's setpoint when its approach begins: the state stays "Wait"
        const QList<QByteArray> atSetpoint =
            wholeRun.mid(0, 10) + QList<QByteArray>{"4.5 25.0 30.0 Wait 1 1",
                                                    "5.5 - 30.0 Wait 1 1 approaching point 2",
                                                    "5.5 - 25.0 Wait 1 1 setpoint sent",
                                                    "6.5 25.0 25.0 Wait 1 1",
                                                    "7.5 25.1 25.0 Wait 1 1",
                                                    "8.5 - 25.0 Wait 1 1 setpoint sent",
                                                    "8.5 - 25.0 Hold 1 1 phase change",
                                                    "8.5 - 25.0 Hold 1 1 completed"};
        QTest::newRow("a point begun at its setpoint dwells at once")
            << record(band, atSetpoint)
            << "c1p1 heat approach 2 rate 136 over 0.3 held 3/3 band 2/1 dwell 25..30.3~27.65 "
               "alarms 0 silent 0 errors 1 fail\n"
               "c1p2 - approach 0 rate - over - held 3/3 band 3/0 dwell 25..25.1~25.05 "
               "alarms 0 silent 0 errors 0 pass\nfail completed";

        QTest::newRow("resumed after a restart: one point, its dwell held in two parts")
            << record(band, resumedRun()) << resumedFigures;

        QByteArray cut = record(band, wholeRun.mid(0, 16));
        cut.chop(10); // in the row of 7.5 s
        QTest::newRow("cut by a crash: the run did not end")
            << cut
            << wholePoint1 + "\nc1p2 cool approach 1 rate -72 over 0 held 0/3 cut band -/- "
                             "dwell -..-~- alarms 0 silent 0 errors 0 fail\nfail -";
    }
    void runs()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        RunAnalysis analysis;
        QString error;
        const auto read = parseRecord(text, error, [&](const RunFact &row) { analysis.take(row); });
        QVERIFY2(read, qPrintable(error));
        analysis.finish();
        QCOMPARE(figures(analysis), expected);
        QCOMPARE(analysis.summary().value("points_planned").toInt(), 2);
        QCOMPARE(analysis.failures().isEmpty(), analysis.verdict() != RunAnalysis::Verdict::Fail);
    }

    // Read live, the run resumed after a restart begins again in the stream of facts, its earlier
    // rows read from its record: the figures are those of its record.
    void resumedLive()
    {
        RunAnalysis analysis;
        QString error;
        std::shared_ptr<RunSetup> setup;
        QVERIFY(parseRecord(record(R"({"tolerance_c":0.5})", resumedRun()), error,
                            [&](const RunFact &row) {
                                if (!row.text.startsWith("resumed after restart")) {
                                    analysis.take(row);
                                    return;
                                }
                                setup = std::make_shared<RunSetup>(*row.setup);
                                setup->resumed = {"run.csv", 0, row.elapsedSeconds, row.text};
                                RunFact begun = row;
                                begun.kind = RunFact::RunBegun;
                                begun.setup = setup;
                                analysis.take(begun);
                            }));
        QVERIFY(setup);
        QCOMPARE(figures(analysis), resumedFigures);
    }

    // The summary's own keys: its header, the profile as run and its hash, the run as a whole.
    void summary()
    {
        RunAnalysis analysis;
        QString error;
        QVERIFY(parseRecord(record(R"({"tolerance_c":0.5})", wholeRun), error,
                            [&](const RunFact &row) { analysis.take(row); }));
        const QJsonObject summary = analysis.summary();
        QCOMPARE(summary.value("format").toString(), "chamberctl-run-summary");
        QCOMPARE(summary.value("version").toInt(), 1);
        QCOMPARE(summary.value("started").toString(), "2026-12-06T14:00:00.000+01:00");
        QCOMPARE(summary.value("ended").toString(), "2026-12-06T14:00:10.500+01:00");
        QCOMPARE(summary.value("duration_s").toDouble(), 10.5);
        QCOMPARE(summary.value("readings").toInt(), 9);
        QCOMPARE(summary.value("errors").toInt(), 1);
        QCOMPARE(summary.value("operator"), QJsonValue());
        const QJsonObject profile = summary.value("profile").toObject();
        QCOMPARE(profile.value("conditions").toObject().value("tolerance_c").toDouble(), 0.5);
        QCOMPARE(profile.value("sha256").toString(),
                 QCryptographicHash::hash(profileText(analysis.setup()->profile),
                                          QCryptographicHash::Sha256)
                     .toHex());
        QVERIFY(profile.value("sha256").toString().size() == 64);
    }
};

QTEST_GUILESS_MAIN(tst_runanalysis)
#include "tst_runanalysis.moc"
