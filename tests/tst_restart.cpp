// A run outlives its program: the window is killed (SIGKILL) in a dwell against chamber-sim, and
// chamberctl started again with the same records folder resumes the run, ends it at 25.0 °C or
// leaves it, as --recover says.
#include "record/recordfile.h"
#include "recovery/runstanding.h"
#include "support/simprocess.h"
#include "util/profilefile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace chamber;

namespace {

constexpr int programMs = 60000; // a sanitizer build on a busy machine starts slowly
constexpr double firstDwellS = 10;
constexpr double killedAfterS = 3; // of the first dwell

// The first row from from on that is the event what (or begins with it), or the phase change to
// what; -1 when there is none.
int rowOf(const QList<RunFact> &rows, const QString &what, int from = 0)
{
    for (int i = from; i < rows.size(); ++i)
        if (rows[i].kind == RunFact::Phase
                ? rows[i].phase == what
                : !rows[i].text.isEmpty() && rows[i].text.startsWith(what))
            return i;
    return -1;
}

} // namespace

class tst_restart : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;
    SimProcess sim{{"--rate", "20", "--ambient", "25", "--log"}};
    QString records() const { return folder.filePath("runs"); }

    void start(QProcess &process, const QString &program, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("CHAMBERCTL_PORTS", sim.folder);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, arguments);
    }

    QList<RunFact> rowsOf(const QString &record)
    {
        QString error;
        const auto read = readRecord(record, error);
        return read ? read->rows : QList<RunFact>();
    }

    // Runs the profile in the window until its first dwell has gone on for killedAfterS, then
    // kills it: the record of that run, torn or not.
    QString killedInDwell()
    {
        QProcess probe;
        start(probe, RUN_PROBE, {records(), folder.filePath("run.profile")});
        const QStringList earlier = QDir(records()).entryList({"*_COM1.csv"});
        QString record;
        const auto dwelled = [&] {
            QStringList made = QDir(records()).entryList({"*_COM1.csv"});
            made.removeIf([&](const QString &name) { return earlier.contains(name); });
            if (made.isEmpty())
                return false;
            record = QDir(records()).filePath(made.first());
            const QList<RunFact> rows = rowsOf(record);
            const int wait = rowOf(rows, "Wait");
            return wait >= 0 &&
                   rows.last().elapsedSeconds >= rows[wait].elapsedSeconds + killedAfterS;
        };
        for (QDeadlineTimer deadline(programMs); !dwelled() && !deadline.hasExpired();)
            QTest::qWait(50);
        if (!dwelled())
            qWarning("no dwell of %g s in %s", killedAfterS, qPrintable(record));
        const qsizetype closed = sim.logLines("close").size();
        probe.kill(); // SIGKILL: nothing of the program's own ending runs
        probe.waitForFinished();
        // the simulator has seen the port closed, and so every frame the window sent before
        for (QDeadlineTimer deadline(simStartMs);
             sim.logLines("close").size() == closed && !deadline.hasExpired();)
            QTest::qWait(20);
        return record;
    }

    // chamberctl started again with --recover choice, until the record has ended.
    QList<RunFact> recovered(const QString &record, const QString &choice)
    {
        QProcess program;
        start(program, CHAMBERCTL, {"--records", records(), "--recover", choice});
        QString error;
        const auto ended = [&] {
            const auto read = readRecord(record, error);
            return read && read->ended;
        };
        for (QDeadlineTimer deadline(programMs); !ended() && !deadline.hasExpired();)
            QTest::qWait(100);
        program.kill();
        program.waitForFinished();
        if (!ended())
            qWarning("the record did not end: %s\n%s", qPrintable(error),
                     qPrintable(sim.log().right(2000)));
        return rowsOf(record);
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(writeProfile(folder.filePath("run.profile"),
                              {{40, 30, 35, 25}, {firstDwellS, 2, 5, 5}, {true, true}, 2}, error),
                 qPrintable(error));
        QVERIFY(sim.waitReady());
    }

    // Resume: the interrupted point is approached again, its dwell goes on for what was left, and
    // the run completes its two cycles in the same record.
    void resume()
    {
        const QString record = killedInDwell();
        QVERIFY(!record.isEmpty());
        const QList<RunFact> before = rowsOf(record);
        const double held =
            before.last().elapsedSeconds - before[rowOf(before, "Wait")].elapsedSeconds;
        const qsizetype sent = sim.logLines("setpoint ").size();

        const QList<RunFact> rows = recovered(record, "resume");
        QCOMPARE(rows.last().text, "completed");
        QCOMPARE(rows.last().cycle, 2);
        const int resumed = rowOf(rows, "resumed after restart, gap ");
        QVERIFY(resumed > 0);
        QCOMPARE(rowOf(rows, "resumed after restart", resumed + 1), -1);
        const int again = rowOf(rows, "", resumed + 1);
        QCOMPARE(rows[again].text, "approaching point 1");
        QCOMPARE(rows[again].cycle, 1);
        // the dwell's rest: from its "Wait" again to the next point's approach
        const int wait = rowOf(rows, "Wait", resumed);
        const int next = rowOf(rows, "approaching point 2", resumed);
        QVERIFY(wait > resumed && next > wait);
        const double rest = rows[next].elapsedSeconds - rows[wait].elapsedSeconds;
        // a loaded machine delays ticks, and with them the dwell clock, but never hurries it
        const double left = firstDwellS - held;
        QVERIFY2(rest >= left - 1 && rest <= left + 2.5,
                 qPrintable(QString("dwelled %1 s after %2 s").arg(rest).arg(held)));
        QCOMPARE(sim.logLines("setpoint ").value(sent), "setpoint 400");
        QCOMPARE(sim.logLines("setpoint ").last(), "setpoint 250");
        // the run's clock goes on over the gap
        QVERIFY(rows[resumed].elapsedSeconds > before.last().elapsedSeconds);

        QString error;
        QVERIFY(!unendedRun(records(), error));
        QCOMPARE(error, QString());
    }

    // End: the controller is sent the rest setpoint and nothing else; Leave: nothing at all.
    void endOrLeave_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("end") << "end"
                             << "ended after restart" << QStringList{"setpoint 250"};
        QTest::newRow("leave") << "leave"
                               << "abandoned after restart" << QStringList();
    }
    void endOrLeave()
    {
        QFETCH(QString, choice);
        QFETCH(QString, ending);
        QFETCH(QStringList, sent);
        const QString record = killedInDwell();
        QVERIFY(!record.isEmpty());
        const qsizetype sentBefore = sim.logLines("setpoint ").size();
        const qsizetype framesBefore = sim.logLines("rx ").size();

        const QList<RunFact> rows = recovered(record, choice);
        QCOMPARE(rows.last().text, ending);
        QCOMPARE(rowOf(rows, "resumed after restart"), -1);
        QCOMPARE(sim.logLines("setpoint ").mid(sentBefore), sent);
        if (sent.isEmpty()) // not even a reading asked for
            QCOMPARE(sim.logLines("rx ").size(), framesBefore);
        QString error;
        QVERIFY(!unendedRun(records(), error));
    }
};

QTEST_GUILESS_MAIN(tst_restart)
#include "tst_restart.moc"
