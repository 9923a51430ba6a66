// A run that outlived its program: where it stood, read from its record (the point, the dwell
// left, what the controller was last sent), which record a restart looks at, and the question the
// window asks about it.
#include "dialogs/recoverydialog.h"
#include "main/main.h"
#include "record/recordwriter.h"
#include "recovery/runstanding.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"
#include "support/handrecord.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace chamber;

namespace {

// Points 30.0 C held 600 s and 25.0 C held 300 s, two cycles.
QByteArray record(const QList<QByteArray> &rows, const QByteArray &conditions = {})
{
    return handRecord(
        "# point 1: setpoint 30.0 C, dwell 600 s, used\n"
        "# point 2: setpoint 25.0 C, dwell 300 s, used\n"
        "# point 3: setpoint 35.0 C, dwell 5 s, not used\n"
        "# point 4: setpoint 25.0 C, dwell 5 s, not used\n"
        "# cycles: 2\n" +
            (conditions.isEmpty() ? QByteArray() : "# conditions: " + conditions + "\n"),
        rows);
}

// Cycle 1 done; cycle 2's point 1 reached at 2000 s and held until 2360 s.
const QList<QByteArray> inDwell = {
    "0 - - Hold 0 0 run started",
    "0.2 - - Heat 1 0 approaching point 1",
    "0.2 - 30.0 Heat 1 0 setpoint sent",
    "100 - 30.0 Wait 1 0 phase change",
    "700 - 30.0 Cool 1 0 approaching point 2",
    "700 - 25.0 Cool 1 0 setpoint sent",
    "800 - 25.0 Wait 1 0 phase change",
    "1100 - 25.0 Heat 2 0 new cycle",
    "1100 - 25.0 Heat 2 0 approaching point 1",
    "1100 - 30.0 Heat 2 0 setpoint sent",
    "2000 30.0 30.0 Heat 2 0",
    "2000 - 30.0 Wait 2 0 phase change",
    "2200 29.0 30.0 Wait 2 0",
    "2360 30.1 30.0 Wait 2 0",
};

QString said(const std::optional<RunStanding> &s)
{
    if (!s)
        return "none";
    return QStringLiteral("cycle %1 point %2 %3 left %4 dwelling %5 sent %6%7")
        .arg(s->cycle)
        .arg(s->point + 1)
        .arg(s->phase)
        .arg(s->dwellLeftS)
        .arg(s->dwelling)
        .arg(s->setpointSentC)
        .arg(s->cannotResume.isEmpty() ? QString() : " cannot: " + s->cannotResume);
}

} // namespace

class tst_recovery : public QObject
{
    Q_OBJECT
private slots:
    void standing_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        const QByteArray dwelling = record(inDwell);
        const QString inWait = "cycle 2 point 1 Wait left 240 dwelling 1 sent 30";
        QTest::newRow("in a dwell") << dwelling << inWait;
        QTest::newRow("a torn last row is left out")
            << dwelling + "2026-12-06T14:39:20.250+01:00,2360.25,30" << inWait;
        // the 160 s from the reading of 29.0 C on, out of a band of 0.5, do not count
        QTest::newRow("a guaranteed soak counts the seconds in the band")
            << record(inDwell, R"({"tolerance_c":0.5,"guaranteed_soak":true})")
            << "cycle 2 point 1 Wait left 400 dwelling 1 sent 30";
        QTest::newRow("in an approach: its whole dwell")
            << record(inDwell.mid(0, 11)) << "cycle 2 point 1 Heat left 600 dwelling 0 sent 30";
        // resumed once with 240 s left, 100 s held since: 140 s left
        QTest::newRow("cut again after a resume")
            << record(inDwell +
                      QList<QByteArray>{"3000 - 30.0 Hold 2 0 resumed after restart, gap 640 s",
                                        "3000.25 30.0 30.0 Hold 2 0 approaching point 1",
                                        "3000.5 - 30.0 Wait 2 0 phase change",
                                        "3100.5 30.0 30.0 Wait 2 0"})
            << "cycle 2 point 1 Wait left 140 dwelling 1 sent 30";
        QByteArray old = record({"0 - - Hold 0 0 run started", "0.2 - - Heat 1 0 new cycle",
                                 "0.2 - 30.0 Heat 1 0 setpoint sent", "10 30.0 30.0 Heat 1 0",
                                 "10 - 30.0 Wait 1 0 phase change", "20 30.0 30.0 Wait 1 0"});
        old.replace("# chamberctl 0.3.0", "# chamberctl 0.2.0")
            .replace("# device: /dev/ttyUSB0\n", "");
        QTest::newRow("0.2.0: the point inferred")
            << old << "cycle 1 point 1 Wait left 590 dwelling 1 sent 30";
        QByteArray damaged = dwelling;
        damaged.replace("# cycles: 2", "# cycles: two");
        QTest::newRow("a profile that cannot be read")
            << damaged
            << "cycle 2 point 1 Wait left 0 dwelling 0 sent 30 cannot: line 9: the cycles cannot "
               "be read";
        QTest::newRow("ended") << record(inDwell +
                                         QList<QByteArray>{"2400 - 25.0 Hold 2 0 window closed"})
                               << "none";
        QByteArray manual = record({"0 25.0 - Hold 0 0"});
        manual.replace("run record", "manual record");
        QTest::newRow("a manual record") << manual << "none";
    }
    void standing()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        QString error;
        QCOMPARE(said(runStanding("run.csv", text, error)), expected);
        QCOMPARE(error, QString());
    }

    // What the dialog says of it, and the row that ends it.
    void description()
    {
        QString error;
        const auto s = runStanding("run.csv", record(inDwell), error);
        QVERIFY(s);
        QCOMPARE(s->description(),
                 "The run begun 2026-12-06 14:00 on COM1 did not end. Its last row, 14:39:20, "
                 "was cycle 2 of 2, point 1, Wait (240 s of 600 left); the controller was last "
                 "sent 30.0 °C.");
        QCOMPARE(s->resumedEvent(s->lastRow.addSecs(754)), "resumed after restart, gap 754 s");
    }

    // The newest run record is the one looked at, unless a program is writing it: a manual
    // record, an older unended run and a run under way are not offered.
    void newestRecord()
    {
        QTemporaryDir folder;
        const auto put = [&](const QString &name, const QByteArray &text) {
            QFile file(folder.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        const QByteArray unended = record(inDwell);
        QVERIFY(put("2026-12-06T14-02-00_COM1.csv", unended));
        QVERIFY(put("2026-12-06T09-00-00_COM1.csv", unended));
        QVERIFY(put("2026-12-06T15-00-00_COM1_manual.csv", "not even a record"));
        QString error;
        auto found = unendedRun(folder.path(), error);
        QVERIFY(found);
        QCOMPARE(QFileInfo(found->record).fileName(), "2026-12-06T14-02-00_COM1.csv");

        RecordWriter writer;
        const int running = writer.open(folder.path(), "2026-12-06T16-00-00_COM1.csv", unended);
        writer.waitWritten();
        found = unendedRun(folder.path(), error);
        QVERIFY(found); // not the one being written
        QCOMPARE(QFileInfo(found->record).fileName(), "2026-12-06T14-02-00_COM1.csv");
        writer.close(running);
        writer.waitWritten();

        // the newest, closed now, is unended too; once it ends, nothing older is offered
        QCOMPARE(QFileInfo(unendedRun(folder.path(), error)->record).fileName(),
                 "2026-12-06T16-00-00_COM1.csv");
        QVERIFY(put(
            "2026-12-06T16-00-00_COM1.csv",
            record(inDwell + QList<QByteArray>{"2400 - 25.0 Hold 2 0 stopped by the operator"})));
        QVERIFY(!unendedRun(folder.path(), error));
        QCOMPARE(error, QString());

        QVERIFY(put("2026-12-06T17-00-00_COM1.csv", "# chamberctl 0.3.0 run record\n,,,\n"));
        QVERIFY(!unendedRun(folder.path(), error));
        QVERIFY2(error.endsWith("2026-12-06T17-00-00_COM1.csv: line 2: a row before the column "
                                "names"),
                 qPrintable(error));
    }

    // At start, an unended run: a port that now leads to another device is left closed; asked,
    // the dialog offers what can be done, and the answer ends the record so that it is not
    // offered again.
    void askedAtStart()
    {
        QTemporaryDir records;
        const auto put = [&](const QString &name, const QByteArray &text) {
            QFile file(records.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        const QString first = records.filePath("2026-12-06T14-02-00_COM1.csv");
        QVERIFY(put("2026-12-06T14-02-00_COM1.csv",
                    record(inDwell) + "2026-12-06T14:39:20.250+01:00,23"));
        FakeSerialLink fake;
        fake.present = {"COM1"};
        fake.devices = {{"COM1", "/dev/ttyUSB1"}};
        chamber::main window(&fake);
        control<QTimer>(window, "Timer1")->stop();
        window.setRecordsFolder(records.path());
        window.Form_Load();
        window.show();
        const qsizetype scanned = fake.calls.size();
        {
            AlertCloser alerts;
            window.offerRecovery(RecoveryChoice::Resume);
            QCOMPARE(alerts.titles(), QStringList{"Recovery error"});
            QVERIFY2(alerts.seen[0].text.contains("COM1 now opens /dev/ttyUSB1, not /dev/ttyUSB0 "
                                                  "as it did for the run. It was not opened"),
                     qPrintable(alerts.seen[0].text));
        }

        QString said;
        QStringList offered;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<RecoveryDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            said = dialog->findChild<QLabel *>("description")->text();
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                offered << button->objectName();
            dialog->findChild<QPushButton *>("leave")->click();
        });
        answer.start(10);
        window.offerRecovery(RecoveryChoice::Ask);
        QVERIFY(said.startsWith("The run begun 2026-12-06 14:00 on COM1 did not end."));
        QCOMPARE(offered, QStringList({"resume", "end", "leave"}));
        const auto lastRows = [&] {
            QFile file(first);
            return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n').mid(23)
                                                  : QByteArrayList();
        };
        // the torn row cut off, the end after the last whole one
        QTRY_VERIFY(lastRows().value(1).endsWith(",,30.0,Wait,2,0,abandoned after restart"));
        QVERIFY(lastRows().value(0).endsWith(",30.1,30.0,Wait,2,0,"));
        offered.clear();
        window.offerRecovery(RecoveryChoice::Ask);
        QCOMPARE(offered, QStringList()); // left: not asked again

        // a profile that cannot be read is not resumed, even when the command line says so
        QByteArray damaged = record(inDwell);
        damaged.replace("# cycles: 2", "# cycles: two");
        QVERIFY(put("2026-12-06T15-00-00_COM1.csv", damaged));
        window.offerRecovery(RecoveryChoice::Resume);
        QVERIFY(said.endsWith("It cannot be resumed: line 9: the cycles cannot be read."));
        QCOMPARE(offered, QStringList({"end", "leave"}));
        QCOMPARE(fake.calls.mid(scanned), QStringList()); // nothing opened, nothing sent
    }
};

QTEST_MAIN(tst_recovery)
#include "tst_recovery.moc"
