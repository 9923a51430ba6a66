// What the window keeps of the past: the trend, the run records and a silent controller.
#include "link/frames.h"
#include "record/recordfile.h"
#include "report/recordview.h"
#include "support/files.h"
#include "support/handrecord.h"
#include "support/windowrig.h"
#include "trend/trendplot.h"
#include "util/profilefile.h"

#include <QLabel>
#include <QtTest>

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

using namespace chamber;

namespace {

// The lines of a file.
QStringList fileLines(const QString &path)
{
    return QString::fromUtf8(contents(path)).split('\n', Qt::SkipEmptyParts);
}

// The lines of the one run record in folder.
QStringList recordLines(const QString &folder)
{
    return fileLines(QDir(folder).filePath(QDir(folder).entryList({"*_COM?.csv"}).value(0)));
}

// Each row's fields index and event of a record, as "temperature|event" for index 2.
QStringList rowFields(const QStringList &lines, int index)
{
    QStringList fields;
    for (const QString &line : lines.mid(lines.indexOf(QRegularExpression("time,.*")) + 1))
        fields << line.section(',', index, index) + "|" + line.section(',', 7);
    return fields;
}

// Field index of the rows whose event is one of events ("" for readings), joined by spaces.
QString column(const QStringList &lines, int index, const QStringList &events)
{
    QStringList values;
    for (const QString &line : lines.mid(9))
        if (events.contains(line.section(',', 7)))
            values << line.section(',', index, index);
    return values.join(' ');
}

// A graph's values as "0.0", a gap as "nan", joined by spaces.
QString values(const QCPGraph *graph)
{
    QStringList list;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        list << QString::number(it->value, 'f', 1);
    return list.join(' ');
}

// The window with COM3 chosen, its timer stopped so that the test gives every tick, recording
// into a folder of its own. The chamber moves 1.0 C toward its setpoint before each reading,
// stopping shortOf short of it, and echoes each setpoint written; offset is added to what it reads
// (a door open). While it is silent it takes nothing and gives nothing, and the next lostWrites
// setpoint writes are lost on the line.
struct Rig : WindowRig
{
    Rig()
    {
        fake.answer = [this](const QByteArray &frame) {
            if (silent || (frame[1] == 6 && lostWrites > 0 && lostWrites--))
                return;
            if (frame[1] == 6) {
                setpoint = qint16(quint8(frame[4]) << 8 | quint8(frame[5]));
                fake.feed(frame);
                return;
            }
            const int target = setpoint > tenths   ? std::max(tenths, setpoint - shortOf)
                               : setpoint < tenths ? std::min(tenths, setpoint + shortOf)
                                                   : setpoint;
            tenths += qBound(-10, target - tenths, 10);
            const int read = tenths + offset;
            given << QString::number(read / 10.0, 'f', 1);
            const QByteArray reply = QByteArray::fromHex("010302") + char(read >> 8) + char(read);
            fake.feed(reply + calccrc(reply));
        };
        window.setRecordsFolder(records.path());
        ports()->setCurrentIndex(1);
    }
    void ticks(int count, bool untilStopped = false)
    {
        for (int i = 0; i < count && !(untilStopped && !box("cyclerun")->isChecked()); ++i)
            window.Timer1_Timer();
    }
    // "Auto" ticked or cleared, then count ticks
    void polling(bool on, int count)
    {
        box("autoread")->setChecked(on);
        ticks(count);
    }

    int tenths = 230, setpoint = 250, shortOf = 0, offset = 0;
    bool silent = false;
    int lostWrites = 0;
    QStringList given; // the readings the chamber gave, as "0.0"
    QTemporaryDir records;
};

} // namespace

class tst_history : public QObject
{
    Q_OBJECT
private slots:
    // The plot gets every reading and setpoint sent, a run's phases and cycles, and a controller
    // that stops answering, shown until its next reply; the run's record holds the same, and how
    // the run ended. Silence is counted in polls since the last reply or since polling began,
    // never across a time when nothing was polled.
    void trendAndRecords()
    {
        Rig rig;
        auto *plot = control<TrendPlot>(rig.window, "trend");
        auto *label = control<QLabel>(rig.window, "noReply");
        const auto silence = [&] { // shown at the ninth poll unanswered, 2 s, and not before
            rig.silent = true;
            rig.ticks(8);
            const bool early = label->isVisible();
            rig.ticks(1);
            return !early && label->isVisible();
        };
        rig.polling(true, 3);
        const QTime lastReply = QTime::currentTime();
        QVERIFY(silence());
        const QTime since = QTime::fromString(
            label->text().section("No reply from the controller since ", 1), "HH:mm:ss");
        QVERIFY2(since.isValid() && qAbs(since.secsTo(lastReply)) <= 1, qPrintable(label->text()));
        rig.polling(false, 1);
        QVERIFY(!label->isVisible());
        // The line breaks at the silence and where polling stops; a reading asked for by hand is
        // a dot of its own.
        rig.silent = false;
        rig.click("Command1(1)");
        QCOMPARE(values(plot->readings()), rig.given.mid(0, 3).join(' ') + " nan nan");
        QCOMPARE(values(plot->singleReadings()), rig.given.last());
        // Setpoints as sent; one refused for want of a port is not.
        for (const char *value : {"24.0", "70.0"}) {
            rig.setTemp(value);
            rig.ports()->setCurrentIndex(0);
        }
        QCOMPARE(rig.alerts.titles(), QStringList{"Serial port error"});

        rig.ports()->setCurrentIndex(1);
        rig.points("26.0 22.0", "1 1");
        rig.given.clear();
        rig.box("cyclerun")->click();
        QVERIFY(silence()); // counted afresh
        rig.silent = false;
        rig.ticks(1);
        QVERIFY(!label->isVisible() && !values(plot->readings()).endsWith("nan"));
        rig.ticks(200, true);
        const QString readInRun = rig.given.join(' ');
        // each setpoint a step: where it begins and how far it holds
        QCOMPARE(values(plot->setpoints()), "24.0 24.0 26.0 26.0 22.0 22.0 25.0 25.0 25.0 25.0");
        // a band for each phase, one after the other, and a mark for the one cycle
        const QList<QCPRange> heat = plot->phaseBand("Heat"), cool = plot->phaseBand("Cool"),
                              wait = plot->phaseBand("Wait");
        QCOMPARE(QList<qsizetype>({heat.size(), cool.size(), wait.size()}),
                 QList<qsizetype>({1, 1, 2}));
        const QList<double> edges = {heat[0].lower, heat[0].upper, wait[0].upper, cool[0].upper,
                                     wait[1].upper};
        QVERIFY(std::is_sorted(edges.begin(), edges.end()) && edges.first() < edges.last());
        QVERIFY(wait[0].lower == heat[0].upper && cool[0].lower == wait[0].upper &&
                wait[1].lower == cool[0].upper);
        QCOMPARE(values(plot->cycleMarks()), "1.0");

        // a run that ends with its port lost, on record
        rig.window.setRecordsFolder(rig.records.filePath("lost"));
        rig.box("cyclerun")->click();
        rig.ticks(2);
        rig.fake.openPort.clear(); // the adapter is unplugged under the window
        emit rig.fake.PortLost();

        rig.window.close(); // waits for the records to be written
        const QStringList lines = recordLines(rig.records.path());
        const QDateTime started =
            QDateTime::fromString(lines.value(2).section("# started: ", 1), Qt::ISODateWithMs);
        QVERIFY(QFile::exists(
            rig.records.filePath(started.toString("yyyy-MM-ddTHH-mm-ss") + "_COM3.csv")));
        QCOMPARE(lines.value(8),
                 "time,elapsed_s,temperature_C,setpoint_C,phase,cycle,errors,event");
        const QRegularExpression row(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d,"
            "\\d+\\.\\d{3},(\\d+\\.\\d)?,\\d+\\.\\d,(Hold|Heat|Wait|Cool),[01],0,[a-z0-9 ]*$");
        for (const QString &line : lines.mid(9))
            QVERIFY2(row.match(line).hasMatch(), qPrintable(line));
        QCOMPARE(column(lines, 2, {""}), readInRun);
        QCOMPARE(column(lines, 3, {"setpoint sent"}), "26.0 22.0 25.0");
        QCOMPARE(column(lines, 4, {"phase change"}), "Heat Wait Cool Wait Hold");
        QCOMPARE(column(lines, 7,
                        {"run started", "new cycle", "no reply", "replies again", "completed",
                         "stopped by the operator", "port lost"}),
                 "run started new cycle no reply replies again completed");

        QCOMPARE(recordLines(rig.records.filePath("lost")).last().section(',', 7), "port lost");
    }

    // A run held to its conditions. A chamber that stops 0.3 short of its setpoints reaches
    // them in a band of 0.5; a door opened during a dwell holds the soak's countdown and raises an
    // alarm at once, latched on the red bar (the newest and the count) until clicked, while the
    // status line says where the run is and, after it, how it ended.
    void unattendedRun()
    {
        Rig rig;
        rig.shortOf = 3;
        Profile soak{{26, 24, 0, 0}, {6, 1}, {true, true}, 1};
        soak.conditions.toleranceC = 0.5;
        soak.conditions.guaranteedSoak = true;
        soak.conditions.deviationDelayS = 0;
        const QString profile = rig.records.filePath("soak.profile");
        QString error;
        QVERIFY(writeProfile(profile, soak, error) && rig.window.loadProfile(profile));
        auto *bar = control<QLabel>(rig.window, "alarm");
        auto *status = control<QLabel>(rig.window, "runStatus");
        QVERIFY(!status->isVisible());
        rig.box("cyclerun")->click();
        for (int i = 0; i < 20 && rig.text("cyclemode") != "Wait"; ++i)
            rig.ticks(1);
        QCOMPARE(rig.given.last(), "25.7");
        QCOMPARE(status->text(), "soak.profile · cycle 1 of 1 · point 1 of 2 · Wait, 00:06 left");
        const auto door = [&](int offset) { // what the countdown did over two seconds of it
            rig.offset = offset;
            const QString before = rig.text("countdown");
            rig.ticks(8);
            return before + ">" + rig.text("countdown");
        };
        rig.ticks(1); // the dwell's first second, its countdown at 5
        QCOMPARE(door(-20), "5>5");
        const QRegularExpression alarm("^\\d\\d:\\d\\d:\\d\\d Alarm: out of tolerance at point 1: "
                                       "23.7 °C, setpoint 26.0 ± 0.5$");
        QVERIFY2(bar->isVisible() && alarm.match(bar->text()).hasMatch(), qPrintable(bar->text()));
        QCOMPARE(bar->accessibleName(), bar->text());
        QCOMPARE(status->text(), "soak.profile · cycle 1 of 1 · point 1 of 2 · Wait, 00:05 left · "
                                 "soak paused: 23.7 °C");
        QCOMPARE(door(0), "5>4"); // the second the door closed in had a reading outside
        QCOMPARE(door(-20), "4>4");
        QVERIFY2(bar->text().endsWith(" (2 alarms)"), qPrintable(bar->text()));
        rig.offset = 0;
        QTest::mouseClick(bar, Qt::LeftButton);
        QVERIFY(!bar->isVisible());
        rig.ticks(400, true);
        QVERIFY2(
            status->text().contains(QRegularExpression("^Run completed at \\d\\d:\\d\\d:\\d\\d$")),
            qPrintable(status->text()));
    }

    // That alert holds nothing, even when the failure reaches the window inside the tick's pause
    // (a row written in the tick fills the disk): while it stands open the run dwells its time
    // and goes on to its next point.
    void alertHoldsNoRun()
    {
        Rig rig;
        QVERIFY(limitFileSize(1000));
        rig.points("26.0 24.0", "4 1");
        QElapsedTimer clock;
        qint64 waitAt = -1, nextAt = -1;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (waitAt < 0 && rig.text("cyclemode") == "Wait")
                waitAt = clock.elapsed();
            if (nextAt < 0 && rig.fake.sent.contains(frameFor(u"settemp", 240)))
                nextAt = clock.elapsed();
        });
        watch.start(10);
        bool openThroughout = false;
        rig.alerts.inside = [&](Z_alert *) {
            openThroughout = QTest::qWaitFor([&] { return nextAt >= 0; }, 10000);
        };
        clock.start();
        control<QTimer>(rig.window, "Timer1")->start();
        rig.box("cyclerun")->click();
        QTRY_VERIFY_WITH_TIMEOUT(nextAt >= 0, 15000);
        limitFileSize(0);
        QCOMPARE(rig.alerts.titles(), QStringList{"Run record error"});
        QVERIFY(openThroughout);
        QVERIFY2(waitAt >= 0 && nextAt - waitAt >= 3000 && nextAt - waitAt <= 4600,
                 qPrintable(QString("dwell of 4 s took %1 ms").arg(nextAt - waitAt)));
    }

    // A left or a right click leaves the trend following the newest reading; a drag
    // of the time axis leaves the view where the operator put it, with a note that says so, until
    // a double-click.
    void followingLive()
    {
        TrendPlot plot;
        plot.resize(513, 207);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        plot.replot();
        auto *note = control<QLabel>(plot, "lookingBack");
        const QPoint centre = plot.axisRect()->rect().center();
        double newest = plot.xAxis->range().upper;
        const auto follows = [&] {
            plot.addReading(newest += 5, 20.0);
            return plot.isLive() && plot.xAxis->range().upper == newest && !note->isVisible();
        };
        QTest::mouseClick(&plot, Qt::LeftButton, {}, centre);
        QTest::mouseClick(&plot, Qt::RightButton, {}, centre);
        QVERIFY(follows());

        QTest::mousePress(&plot, Qt::LeftButton, {}, centre);
        QTest::mouseMove(&plot, centre + QPoint(60, 0));
        QTest::mouseRelease(&plot, Qt::LeftButton, {}, centre + QPoint(60, 0));
        const QCPRange dragged = plot.xAxis->range();
        QVERIFY(dragged.upper < newest);
        plot.addReading(newest += 5, 20.0);
        QVERIFY(!plot.isLive() && plot.xAxis->range() == dragged);
        QVERIFY(note->isVisible() && plot.rect().contains(note->geometry()));
        QCOMPARE(note->text(), QStringLiteral("Looking back — double-click for live"));
        QCOMPARE(note->accessibleName(), note->text());

        QTest::mouseDClick(&plot, Qt::LeftButton, {}, centre);
        QVERIFY(follows());
    }

    // One alert names the file and the reason, and the run goes on unrecorded: a folder that
    // can't be made, for the reason the system gives (a path under a regular file, even for
    // root; a folder in /sys, refused whoever asks), a disk that fills up during the run (a file
    // size limit fails writes with EFBIG as a full disk fails them with ENOSPC), which leaves the
    // record whole rows only, and a records folder deleted during the run.
    void unwritable()
    {
        Rig rig;
        QFile blocker(rig.records.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        const int sysError = ::mkdir("/sys/chamberctl-test", 0777) == 0 ? 0 : errno;
        QVERIFY(sysError != 0 && sysError != ENOENT); // EPERM for root, else EACCES
        const QString full = rig.records.filePath("full"), gone = rig.records.filePath("gone");
        const QList<std::pair<QString, QString>> trials = {
            {blocker.fileName() + "/runs", qt_error_string(ENOTDIR)},
            {"/sys/chamberctl-test/runs", qt_error_string(sysError)},
            {full, qt_error_string(EFBIG)},
            {gone, "the file was deleted during the run"}};
        for (const auto &[folder, reason] : trials) {
            rig.alerts.seen.clear();
            rig.window.setRecordsFolder(folder);
            limitFileSize(folder == full ? 1000 : 0);
            rig.box("cyclerun")->click();
            rig.ticks(folder == full ? 25 : 2); // 25 rows outgrow the 1000 bytes
            if (folder == gone) {
                QTRY_VERIFY(!QDir(gone).entryList({"*.csv"}).isEmpty());
                QVERIFY(QDir(gone).removeRecursively());
                rig.ticks(4);
            }
            QTRY_COMPARE(rig.alerts.titles(), QStringList{"Run record error"});
            limitFileSize(0);
            const QString text = rig.alerts.seen[0].text;
            const QString file = QRegularExpression::escape(folder) + "/[-0-9T]{19}_COM3.csv";
            QVERIFY2(text.contains(QRegularExpression(file)), qPrintable(text));
            QVERIFY2(text.contains(reason), qPrintable(text));
            rig.ticks(4);
            QVERIFY(rig.box("cyclerun")->isChecked() && rig.alerts.seen.size() == 1);
            rig.box("cyclerun")->click();
        }
        QString error;
        const QString path = QDir(full).entryInfoList({"*.csv"}).value(0).filePath();
        const std::optional<RecordFile> record = readRecord(path, error);
        QVERIFY2(record && !record->torn && record->rowCount > 0, qPrintable(path + error));
    }

    // A setpoint write lost on the line goes again after the next poll, and the run reaches its
    // point, on record; one that never arrives is given up after three resends and said in the
    // band until a later setpoint is confirmed.
    void lostSetpoint()
    {
        Rig rig;
        auto *notice = control<QLabel>(rig.window, "setpointUnconfirmed");
        const QByteArray set300 = frameFor(u"settemp", 300);
        rig.lostWrites = 4;
        rig.setTemp("30.0");
        rig.polling(true, 3);
        QVERIFY(rig.fake.sent.count(set300) == 4 && !notice->isVisible());
        rig.ticks(3);
        QCOMPARE(rig.fake.sent.count(set300), 4);
        QVERIFY(notice->isVisible());
        QVERIFY2(notice->text().contains(QRegularExpression(
                     "^Setpoint 30.0 °C not confirmed by the controller at \\d\\d:\\d\\d:\\d\\d$")),
                 qPrintable(notice->text()));
        rig.setTemp("31.0");
        QVERIFY(!notice->isVisible());

        rig.box("autoread")->setChecked(false);
        rig.points("26.0 24.0", "1 1");
        rig.lostWrites = 1;
        rig.box("cyclerun")->click();
        rig.ticks(200, true);
        rig.window.close(); // waits for the record to be written
        const QStringList lines = recordLines(rig.records.path());
        QCOMPARE(column(lines, 3, {"setpoint sent", "setpoint resent"}), "26.0 26.0 24.0 25.0");
        QCOMPARE(column(lines, 7, {"setpoint sent", "setpoint resent", "completed"}),
                 "setpoint sent setpoint resent setpoint sent setpoint sent completed");
        QVERIFY(rig.alerts.seen.isEmpty());
    }

    // Readings while "Auto" polls outside a run, and setpoints sent by hand, go to a manual
    // record, one file for each stretch of polling; a stretch that heard nothing leaves none, and
    // a run's start ends one.
    void manualRecords()
    {
        Rig rig;
        rig.polling(true, 2);
        rig.setTemp("24.0");
        rig.ticks(2);
        rig.polling(false, 1);
        rig.silent = true;
        rig.polling(true, 3);
        rig.polling(false, 1);
        rig.silent = false;
        rig.polling(true, 2);
        rig.box("cyclerun")->click();
        rig.ticks(2);
        rig.box("cyclerun")->click();
        rig.window.close(); // waits for the records to be written

        const QDir folder(rig.records.path());
        const QStringList manual = folder.entryList({"*_COM3_manual*.csv"});
        QCOMPARE(manual.size(), 2);
        const QStringList first = fileLines(folder.filePath(manual[0]));
        QCOMPARE(first.mid(0, 2), QStringList({"# chamberctl " CHAMBERCTL_VERSION " manual record",
                                               "# port: COM3"}));
        const QStringList given = rig.given;
        QCOMPARE(rowFields(first, 2),
                 QStringList({given[0] + "|", given[1] + "|", "|manual setpoint", given[2] + "|",
                              given[3] + "|"}));
        QCOMPARE(rowFields(first, 3).value(2), "24.0|manual setpoint");
        // seconds since the stretch began
        QCOMPARE(rowFields(first, 1).value(0), "0.000|");
        QVERIFY(rowFields(first, 1).value(4) > "0.000|");
        QCOMPARE(rowFields(fileLines(folder.filePath(manual[1])), 2),
                 QStringList({given[4] + "|", given[5] + "|"}));
        QCOMPARE(rig.alerts.titles(), QStringList());
    }

    // A past record shown in the trend while the live readings go on being kept; a double-click
    // returns to them. Saved plots say what they show: the port and the run's start, or "live".
    // A record that cannot be read is said once, naming its line; so is a report not made.
    void lookingBack()
    {
        Rig rig;
        const QString path = rig.records.filePath("old.csv");
        const QByteArray old =
            handRecord({}, {"0 - - Hold 0 0 run started", "0.25 23.0 - Hold 0 0",
                            "0.5 - 75.0 Heat 1 0 setpoint sent", "600.5 74.0 75.0 Heat 1 0"});
        QVERIFY(writeFile(path, old));
        auto *view = rig.window.findChild<RecordView *>();
        auto *live = control<TrendPlot>(rig.window, "trend");
        view->open(path);
        QTRY_VERIFY(view->showingRecord());
        QCOMPARE(view->note(), "Record of 2026-12-06 14:00, COM1 — double-click for live");
        const int kept = live->readings()->data()->size();
        rig.polling(true, 3);
        QCOMPARE(live->readings()->data()->size(), kept + 3);

        const QString pdf = rig.records.filePath("plot.pdf");
        QVERIFY(view->saveShown(pdf, true, "COM3"));
        QString text = pdfText(pdf);
        QVERIFY2(text.contains("chamberctl trend — COM1, run of 2026-12-06 14:00") &&
                     text.count("2026-12-06") > 2 && text.contains("14:05:00"),
                 qPrintable(text));
        QTest::mouseDClick(view->plotShown(), Qt::LeftButton);
        QVERIFY(!view->showingRecord() && view->plotShown() == live);
        QVERIFY(view->saveShown(pdf, true, "COM3"));
        text = pdfText(pdf);
        const QString today = QDate::currentDate().toString("yyyy-MM-dd");
        QVERIFY2(text.contains("chamberctl trend — COM3, live") && text.count(today) > 1,
                 qPrintable(text));

        QVERIFY(writeFile(path, QByteArray(old).replace(",74.0,", ",7x.0,")));
        view->open(path);
        QTRY_COMPARE(rig.alerts.titles(), QStringList{"Run record error"});
        QVERIFY2(rig.alerts.seen[0].text.contains(path + " could not be read: line 9: a number"),
                 qPrintable(rig.alerts.seen[0].text));
        QVERIFY(!view->showingRecord());

        // Reports that cannot be made, of two runs in a row: each said once, with what the report
        // maker said, and the runs go on.
        const QString maker = rig.records.filePath("refuses");
        QVERIFY(writeFile(maker, "#!/bin/sh\necho 'noise' >&2\n"
                                 "echo \"chamberctl: no room for $2\" >&2\nexit 1\n") &&
                QFile::setPermissions(maker, QFile::permissions(maker) | QFile::ExeOwner));
        rig.window.setReportProgram(maker);
        for (int run = 0; run < 2; ++run) {
            rig.box("cyclerun")->click();
            rig.ticks(2);
            rig.box("cyclerun")->click();
        }
        QTRY_COMPARE(rig.alerts.titles(),
                     QStringList({"Run record error", "Run report error", "Run report error"}));
        const QStringList runs =
            QDir(rig.records.path()).entryList({"*_COM3.csv", "*_COM3_[0-9].csv"});
        QCOMPARE(runs.size(), 2);
        for (int run = 0; run < 2; ++run)
            QCOMPARE(rig.alerts.seen[run + 1].text,
                     QString("The report of the run record %1 could not be made: no room for %1.")
                         .arg(rig.records.filePath(runs[run])));
    }
};

QTEST_MAIN(tst_history)
#include "tst_history.moc"
