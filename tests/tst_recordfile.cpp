// Run records read back: what the writer writes, records of older versions, and damaged files.
#include "record/recordfile.h"
#include "record/runrecord.h"
#include "support/oldrecord.h"

#include <QtTest>

using namespace chamber;

namespace {

const QByteArray begun = "2026-12-06T14:02:31.250+01:00,0.000,,,Hold,0,0,run started\n";
const QByteArray reading = "2026-12-06T14:02:31.455+01:00,0.205,23.0,,Hold,0,0,\n";
const QByteArray ended = "2026-12-06T14:03:40.000-00:30,68.750,,25.0,Hold,1,2,completed\n";

} // namespace

class tst_recordfile : public QObject
{
    Q_OBJECT
private slots:
    // Everything the writer puts in a record comes back: the set-up with the new comment lines,
    // each kind of row, a quoted event, and times in any offset from UTC.
    void roundTrip()
    {
        RunSetup setup;
        setup.version = "0.3.0";
        setup.port = "COM7";
        setup.device = "/dev/ttyUSB0";
        setup.started = QDateTime::fromString("2026-12-06T14:02:31.250-03:30", Qt::ISODateWithMs);
        setup.profile = {{85, 25.5, 60, 25}, {600, 300, 0, 1}, {true, true, true, false}, 3};
        setup.profile.conditions.toleranceC = 0.5;
        setup.profile.conditions.guaranteedSoak = true;
        setup.profileName = "heat-soak.profile";
        setup.operatorName = "A. Operator";
        setup.testId = "T-17, lot 4";
        QByteArray text = recordPreamble(setup) + recordHeader();
        QList<RunFact> facts;
        for (auto [kind, event] : {std::pair{RunFact::RunBegun, ""},
                                   {RunFact::Event, "approaching point 2"},
                                   {RunFact::Reading, ""},
                                   {RunFact::SetpointSent, ""},
                                   {RunFact::Phase, ""},
                                   {RunFact::Cycle, ""},
                                   {RunFact::Event, "alarm: \"x\", y"},
                                   {RunFact::RunEnded, "ended by alarm"}}) {
            RunFact fact;
            fact.kind = kind;
            fact.inRun = true;
            fact.text = event;
            fact.when = setup.started.addMSecs(1500 * facts.size());
            fact.elapsedSeconds = 1.5 * facts.size();
            fact.temperature = kind == RunFact::Reading ? -12.5 : RunFact::none;
            fact.setpoint = facts.isEmpty() ? RunFact::none : 85.0;
            fact.phase = "Heat";
            fact.cycle = 1;
            fact.errors = 3;
            facts << fact;
            text += recordLine(fact);
        }
        QString error;
        const auto record = parseRecord(text, error);
        QVERIFY2(record, qPrintable(error));
        QCOMPARE(record->setupError, QString());
        const RunSetup &read = record->setup;
        QCOMPARE(read.version + read.port + read.device + read.profileName + read.operatorName +
                     read.testId,
                 "0.3.0COM7/dev/ttyUSB0heat-soak.profileA. OperatorT-17, lot 4");
        QCOMPARE(read.started, setup.started);
        QCOMPARE(read.started.offsetFromUtc(), -3 * 3600 - 1800);
        QCOMPARE(read.profile, setup.profile);
        QCOMPARE(record->rows.size(), facts.size());
        for (int i = 0; i < facts.size(); ++i) {
            const RunFact &row = record->rows[i];
            QCOMPARE(row.kind, facts[i].kind);
            QCOMPARE(factEvent(row), factEvent(facts[i]));
            QCOMPARE(row.when, facts[i].when);
            QCOMPARE(row.elapsedSeconds, facts[i].elapsedSeconds);
            QCOMPARE(qIsNaN(row.setpoint), i == 0);
            QVERIFY(row.inRun);
        }
        QCOMPARE(record->rows[2].temperature, -12.5);
        // rows after an approach's event belong to its point
        QCOMPARE(record->rows.first().point, -1);
        QCOMPARE(record->rows.last().point, 1);
        QVERIFY(record->ended && !record->torn);
        QCOMPARE(record->wholeBytes, text.size());
    }

    // Older records, cut ones and damaged ones: what is read, and the line named when it can't be.
    void damaged_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("ended");
        QTest::addColumn<bool>("torn");
        QTest::addColumn<QString>("setupError");
        const QByteArray whole = oldPreamble + begun + reading + ended;
        QTest::newRow("a record of 0.2.0") << whole << "" << 3 << true << false << "";
        QTest::newRow("cut inside a row") << whole.chopped(20) << "" << 2 << false << true << "";
        QTest::newRow("no end row")
            << oldPreamble + begun + reading << "" << 2 << false << false << "";
        QTest::newRow("a point unreadable")
            << QByteArray(oldPreamble).replace("dwell 5 s, not", "dwell five, not") + begun << ""
            << 1 << false << false << "line 6: the point cannot be read";
        QTest::newRow("a manual record holds no profile")
            << QByteArray("# chamberctl 0.3.0 manual record\n# port: COM1\n") + headerOf() + reading
            << "" << 1 << false << false << "";
        QTest::newRow("no profile")
            << QByteArray("# chamberctl 0.3.0 run record\n") + headerOf() << "" << 0 << false
            << false << "the record does not say the whole profile";
        // records refused, with the error they begin with
        const auto refused = [](const char *name, const QByteArray &text, const char *error) {
            QTest::newRow(name) << text << QString(error) << 0 << false << false << QString();
        };
        refused("cut inside the header", oldPreamble.chopped(9),
                "line 9: the column names are missing");
        refused("another file", "hello\n", "line 1: not a chamberctl");
        refused("empty", {}, "the file is empty");
        refused("seven fields", oldPreamble + begun + "2026-12-06T14:02:31.455+01:00,0.2\n",
                "line 11: a row must have 8 fields");
        refused("nine fields", oldPreamble + begun.chopped(1) + ",\n",
                "line 10: a row must have 8 fields");
        refused("a bad time", oldPreamble + QByteArray(begun).replace("T14", "X14"),
                "line 10: the time cannot be read");
        refused("a bad number", oldPreamble + QByteArray(reading).replace("23.0", "2x"),
                "line 10: a number cannot be read");
        refused("a quote never closed", oldPreamble + QByteArray(reading).replace(",\n", ",\"x\n"),
                "line 10: a row must have 8 fields");
    }
    void damaged()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        QString found;
        int handed = 0;
        const auto record = parseRecord(text, found, [&](const RunFact &) { ++handed; });
        QVERIFY2(error.isEmpty() == bool(record), qPrintable(found));
        if (!record) {
            QVERIFY2(found.startsWith(error), qPrintable(found));
            return;
        }
        QFETCH(int, rows);
        QFETCH(bool, ended);
        QFETCH(bool, torn);
        QFETCH(QString, setupError);
        QCOMPARE(record->rowCount, rows);
        QCOMPARE(handed, rows);
        QVERIFY(record->rows.isEmpty()); // handed over, not kept
        QCOMPARE(record->ended, ended);
        QCOMPARE(record->torn, torn);
        QCOMPARE(record->setupError, setupError);
        // what a continued record keeps: every whole line, nothing of a cut one
        QCOMPARE(text.left(record->wholeBytes).endsWith('\n') || record->wholeBytes == 0, true);
        QCOMPARE(text.size() - record->wholeBytes > 0, torn);
    }

private:
    static QByteArray headerOf() { return oldPreamble.mid(oldPreamble.indexOf("time,")); }
};

QTEST_GUILESS_MAIN(tst_recordfile)
#include "tst_recordfile.moc"
