// What the window keeps of the past: the trend, the run records and a silent controller.
#include "link/frames.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"
#include "trend/trendplot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <sys/resource.h>

using namespace chamber;

namespace {

// The lines of the one record in folder.
QStringList recordLines(const QString &folder)
{
    QFile file(QDir(folder).entryInfoList({"*.csv"}).value(0).filePath());
    return file.open(QIODevice::ReadOnly)
               ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
               : QStringList();
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

// The window on a fake line with COM3 chosen, its timer stopped so that the test gives every
// tick, recording into a folder of its own. The chamber moves 1.0 C toward its setpoint before
// each reading, and gives none while it is silent.
struct Rig
{
    Rig()
    {
        fake.present = {"COM3"};
        fake.answer = [this](const QByteArray &frame) {
            if (frame[1] == 6) {
                setpoint = qint16(quint8(frame[4]) << 8 | quint8(frame[5]));
            } else if (!silent) {
                tenths += qBound(-10, setpoint - tenths, 10);
                given << QString::number(tenths / 10.0, 'f', 1);
                const QByteArray reply =
                    QByteArray::fromHex("010302") + char(tenths >> 8) + char(tenths);
                fake.feed(reply + calccrc(reply));
            }
        };
        control<QTimer>(window, "Timer1")->stop();
        window.setRecordsFolder(records.path());
        window.Form_Load();
        window.show();
        ports()->setCurrentIndex(1);
    }
    QCheckBox *box(const QString &name) { return control<QCheckBox>(window, name); }
    QComboBox *ports() { return control<QComboBox>(window, "portselect"); }
    void ticks(int count, bool untilStopped = false)
    {
        for (int i = 0; i < count && !(untilStopped && !box("cyclerun")->isChecked()); ++i)
            window.Timer1_Timer();
    }

    int tenths = 230, setpoint = 250;
    bool silent = false;
    QStringList given; // the readings the chamber gave, as "0.0"
    QTemporaryDir records;
    FakeSerialLink fake;
    chamber::main window{&fake};
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
        AlertCloser alerts;
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
        rig.box("autoread")->setChecked(true);
        rig.ticks(3);
        const QTime lastReply = QTime::currentTime();
        QVERIFY(silence());
        const QTime since = QTime::fromString(
            label->text().section("No reply from the controller since ", 1), "HH:mm:ss");
        QVERIFY2(since.isValid() && qAbs(since.secsTo(lastReply)) <= 1, qPrintable(label->text()));
        rig.box("autoread")->setChecked(false);
        rig.ticks(1);
        QVERIFY(!label->isVisible());
        // The line breaks at the silence and where polling stops; a reading asked for by hand is
        // a dot of its own.
        rig.silent = false;
        QTest::mouseClick(control(rig.window, "Command1(1)"), Qt::LeftButton);
        QCOMPARE(values(plot->readings()), rig.given.mid(0, 3).join(' ') + " nan nan");
        QCOMPARE(values(plot->singleReadings()), rig.given.last());
        // Setpoints as sent; one refused for want of a port is not.
        for (const char *value : {"24.0", "70.0"}) {
            control<QLineEdit>(rig.window, "setpoint")->setText(value);
            QTest::mouseClick(control(rig.window, "Command1(0)"), Qt::LeftButton);
            rig.ports()->setCurrentIndex(0);
        }
        QCOMPARE(alerts.titles(), QStringList{"Serial port error"});

        rig.ports()->setCurrentIndex(1);
        const QStringList profile = {"setpoints(0)", "26.0", "setpoints(1)", "22.0",
                                     "dwells(0)",    "1",    "dwells(1)",    "1"};
        for (int i = 0; i < profile.size(); i += 2)
            control<QLineEdit>(rig.window, profile[i])->setText(profile[i + 1]);
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
            "\\d+\\.\\d{3},(\\d+\\.\\d)?,\\d+\\.\\d,(Hold|Heat|Wait|Cool),[01],0,[a-z ]*$");
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

    // A click, or a right-click and Escape, leaves the trend following the newest reading; a drag
    // of the time axis leaves the view where the operator put it, with a note that says so, until
    // a double-click.
    void lookingBack()
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
    // can't be made (a path under a regular file, even for root), and a disk that fills up during
    // the run (a file size limit fails writes with EFBIG as a full disk fails them with ENOSPC).
    void unwritable()
    {
        AlertCloser alerts;
        Rig rig;
        QFile blocker(rig.records.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        const rlimit small{1000, before.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);
        for (const QString &folder : {blocker.fileName() + "/runs", rig.records.filePath("runs")}) {
            const bool diskFills = !folder.startsWith(blocker.fileName());
            alerts.seen.clear();
            rig.window.setRecordsFolder(folder);
            setrlimit(RLIMIT_FSIZE, diskFills ? &small : &before);
            rig.box("cyclerun")->click();
            rig.ticks(25);
            QTRY_COMPARE(alerts.titles(), QStringList{"Run record error"});
            setrlimit(RLIMIT_FSIZE, &before);
            const QString text = alerts.seen[0].text;
            const QString file = QRegularExpression::escape(folder) + "/[-0-9T]{19}_COM3.csv";
            QVERIFY2(text.contains(QRegularExpression(file)), qPrintable(text));
            QVERIFY2(text.contains(qt_error_string(diskFills ? EFBIG : ENOTDIR)), qPrintable(text));
            rig.ticks(4);
            QVERIFY(rig.box("cyclerun")->isChecked() && alerts.seen.size() == 1);
            rig.box("cyclerun")->click();
        }
    }
};

QTEST_MAIN(tst_history)
#include "tst_history.moc"
