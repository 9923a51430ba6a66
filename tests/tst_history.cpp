// The record of a run and a silent controller, against chamber-sim; records that can't be written.
#include "link/frames.h"
#include "link/qtseriallink.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"
#include "support/simprocess.h"
#include "trend/trendplot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cerrno>
#include <cmath>
#include <memory>

#include <csignal>
#include <sys/resource.h>

using namespace chamber;

namespace {

constexpr int settleMs = 10000; // generous for a sanitizer build on a busy machine
const QRegularExpression isoTime(
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
const QStringList endings = {"completed", "stopped by the operator", "port lost", "window closed"};

// A run record read back: its comment lines without "# ", its header and its rows, split.
struct Record
{
    QString fileName;
    QStringList comments;
    QString header;
    QList<QStringList> rows;

    QStringList column(int index, const QString &event) const
    {
        QStringList values;
        for (const QStringList &row : rows)
            if (row.value(7) == event)
                values << row.value(index);
        return values;
    }
};

// The one record in folder; the test fails when there is not exactly one.
Record readRecord(const QString &folder)
{
    const QStringList files = QDir(folder).entryList({"*.csv"}, QDir::Files);
    if (files.size() != 1)
        qFatal("expected one record in %s, found %lld", qPrintable(folder),
               qlonglong(files.size()));
    QFile file(QDir(folder).filePath(files[0]));
    file.open(QIODevice::ReadOnly);
    Record record{files[0], {}, {}, {}};
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (line.startsWith("# "))
            record.comments << line.mid(2);
        else if (record.header.isEmpty())
            record.header = line;
        else if (!line.isEmpty())
            record.rows << line.split(',');
    }
    return record;
}

// chamber-sim, and the window talking to it through COM1 and recording into a folder of its own.
struct Rig
{
    explicit Rig(const QStringList &simargs)
        : sim(simargs + QStringList{"--log"})
    {}
    ~Rig() { qunsetenv("CHAMBERCTL_PORTS"); }

    bool start()
    {
        if (!sim.waitready() || !records.isValid())
            return false;
        qputenv("CHAMBERCTL_PORTS", QFile::encodeName(sim.folder));
        window = std::make_unique<chamber::main>(&link);
        window->setRecordsFolder(records.path());
        window->Form_Load();
        window->show();
        auto *ports = control<QComboBox>(*window, "portselect");
        ports->setCurrentIndex(qMax(0, ports->findText("COM1")));
        return box("cyclerun")->isEnabled();
    }
    void profile(const QStringList &points, const QString &dwell)
    {
        for (int i = 0; i < points.size(); ++i) {
            field(QStringLiteral("setpoints(%1)").arg(i))->setText(points[i]);
            field(QStringLiteral("dwells(%1)").arg(i))->setText(dwell);
        }
    }
    QStringList simlog(const QString &prefix)
    {
        QStringList values;
        for (const QString &line : sim.loglines(prefix))
            values << line.mid(prefix.size());
        return values;
    }

    QLineEdit *field(const QString &name) { return control<QLineEdit>(*window, name); }
    QCheckBox *box(const QString &name) { return control<QCheckBox>(*window, name); }

    SimProcess sim;
    QTemporaryDir records;
    QtSerialLink link;
    std::unique_ptr<chamber::main> window;
};

// Tenths as the simulator logs them: "30.0" is "300".
QStringList tenths(const QStringList &celsius)
{
    QStringList values;
    for (const QString &c : celsius)
        values << QString::number(qRound(c.toDouble() * 10));
    return values;
}

} // namespace

class tst_history : public QObject
{
    Q_OBJECT
private slots:
    void records_data();
    void records();
    void unwritable_data();
    void unwritable();
    void silence();
    void silenceCountsOnlyWhilePolling();
};

void tst_history::records_data()
{
    QTest::addColumn<QStringList>("simargs");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("phases");
    QTest::newRow("completed") << QStringList{"--rate", "100"} << "completed"
                               << QStringList{"300", "260", "250"} << "Heat Wait Cool Wait Hold";
    QTest::newRow("stopped") << QStringList{"--rate", "0.2"} << "stopped by the operator"
                             << QStringList{"300", "250"} << "Heat Hold";
    QTest::newRow("port lost") << QStringList{"--rate", "0.2", "--exit-after", "3"} << "port lost"
                               << QStringList{"300"} << "Heat Hold";
}

// Everything the run did is in the record, and how it ended.
void tst_history::records()
{
    QFETCH(QStringList, simargs);
    QFETCH(QString, ending);
    QFETCH(QStringList, sent);
    QFETCH(QString, phases);
    AlertCloser alerts;
    Rig rig(simargs + QStringList{"--ambient", "25"});
    QVERIFY(rig.start());
    rig.profile({"30.0", "26.0"}, "1");
    QCheckBox *run = rig.box("cyclerun");
    run->click();
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.loglines("read 100").size() >= 4, settleMs);
    if (ending == "completed")
        QTRY_VERIFY_WITH_TIMEOUT(!run->isChecked(), settleMs);
    else if (ending == "stopped by the operator")
        run->click();
    else if (ending == "port lost")
        QTRY_COMPARE_WITH_TIMEOUT(alerts.titles(), QStringList{"Com port error"}, settleMs);
    rig.window->close(); // closing waits for the record to be written
    const Record record = readRecord(rig.records.path());

    const QString started = record.comments.value(2).mid(QStringLiteral("started: ").size());
    QVERIFY2(isoTime.match(started).hasMatch(), qPrintable(started));
    const QDateTime start = QDateTime::fromString(started, Qt::ISODateWithMs);
    QCOMPARE(record.fileName, start.toString("yyyy-MM-ddTHH-mm-ss") + "_COM1.csv");
    QCOMPARE(record.comments,
             QStringList({"chamberctl " CHAMBERCTL_VERSION " run record", "port: COM1",
                          "started: " + started, "point 1: setpoint 30.0 C, dwell 1 s, used",
                          "point 2: setpoint 26.0 C, dwell 1 s, used",
                          "point 3: setpoint 35.0 C, dwell 5 s, not used",
                          "point 4: setpoint 25.0 C, dwell 5 s, not used", "cycles: 1"}));
    QCOMPARE(record.header, "time,elapsed_s,temperature_C,setpoint_C,phase,cycle,errors,event");

    QDateTime previous = start;
    double elapsed = 0;
    const QStringList read = rig.simlog("read 100 = ");
    for (const QStringList &row : record.rows) {
        QCOMPARE(row.size(), 8);
        QVERIFY2(isoTime.match(row[0]).hasMatch(), qPrintable(row[0]));
        const QDateTime when = QDateTime::fromString(row[0], Qt::ISODateWithMs);
        QVERIFY(when >= previous && row[1].toDouble() >= elapsed);
        previous = when;
        elapsed = row[1].toDouble();
        QCOMPARE(row[6], "0");
        if (row[7].isEmpty()) // a reading, as the controller gave it
            QVERIFY2(read.contains(tenths({row[2]}).first()), qPrintable(row.join(',')));
        // the end is given once, last
        QCOMPARE(endings.contains(row[7]), &row == &record.rows.last());
    }
    QCOMPARE(record.rows.first()[7], "run started");
    QCOMPARE(record.rows.last()[7], ending);
    QVERIFY(record.column(2, QString()).size() >= 4);
    QCOMPARE(tenths(record.column(3, "setpoint sent")), sent);
    QCOMPARE(rig.simlog("setpoint ").mid(0, sent.size()), sent);
    QCOMPARE(record.column(4, "phase change").join(' '), phases);
    QCOMPARE(record.column(5, "new cycle"), QStringList{"1"});
    rig.window.reset();
}

void tst_history::unwritable_data()
{
    QTest::addColumn<bool>("diskfills");
    QTest::newRow("a folder that cannot be made") << false;
    QTest::newRow("a disk that fills up during the run") << true;
}

// One alert names the file and the reason, and the run goes on unrecorded.
void tst_history::unwritable()
{
    QFETCH(bool, diskfills);
    AlertCloser alerts;
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    FakeSerialLink fake;
    fake.present = {"COM3"};
    const QByteArray reading = QByteArray::fromHex("010302") + char(0) + char(250);
    fake.answer = [&](const QByteArray &frame) {
        fake.feed(frame.at(1) == 3 ? reading + calccrc(reading) : frame);
    };
    chamber::main w(&fake);
    control<QTimer>(w, "Timer1")->stop();
    w.Form_Load();
    control<QComboBox>(w, "portselect")->setCurrentIndex(1);

    // A path under a regular file can't be made, even by root; a file size limit fails writes
    // with EFBIG as a full disk fails them with ENOSPC.
    QString folder = scratch.filePath("runs");
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    if (diskfills) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = before;
        small.rlim_cur = 2000;
        setrlimit(RLIMIT_FSIZE, &small);
    } else {
        QFile blocker(scratch.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        folder = blocker.fileName() + "/runs";
    }
    w.setRecordsFolder(folder);
    auto *run = control<QCheckBox>(w, "cyclerun");
    run->setChecked(true);
    for (int i = 0; i < 60; ++i)
        w.Timer1_Timer();
    QTRY_COMPARE(alerts.titles(), QStringList{"Run record error"});
    setrlimit(RLIMIT_FSIZE, &before);

    const QString text = alerts.seen[0].text;
    QVERIFY2(
        text.contains(QRegularExpression(QRegularExpression::escape(folder) +
                                         "/\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d_COM3.csv")),
        qPrintable(text));
    QVERIFY2(text.contains(qt_error_string(diskfills ? EFBIG : ENOTDIR)), qPrintable(text));

    const qsizetype sent = fake.sent.size();
    for (int i = 0; i < 8; ++i)
        w.Timer1_Timer();
    QVERIFY(run->isChecked());
    QCOMPARE(fake.sent.size(), sent + 8);
    QCOMPARE(fake.sent.count(framefor(u"settemp", 750)), 1);
    QCOMPARE(alerts.titles(), QStringList{"Run record error"});
}

// A controller that stops answering is shown, marked in the trend and the record, and forgotten
// at its next reply; the run goes on.
void tst_history::silence()
{
    Rig rig({"--rate", "0.2", "--ambient", "25", "--silent-after", "3", "--silent-for", "3"});
    QVERIFY(rig.start());
    QTime lastReading;
    QObject::connect(rig.box("autosamples"), &QCheckBox::toggled,
                     [&] { lastReading = QTime::currentTime(); });
    rig.profile({"40.0"}, "1");
    QCheckBox *run = rig.box("cyclerun");
    run->click();
    auto *label = control<QLabel>(*rig.window, "noreply");
    QVERIFY(!label->isVisible());

    QTRY_VERIFY_WITH_TIMEOUT(label->isVisible(), settleMs);
    const QRegularExpressionMatch said =
        QRegularExpression("^No reply from the controller since (\\d\\d:\\d\\d:\\d\\d)$")
            .match(label->text());
    QVERIFY2(said.hasMatch(), qPrintable(label->text()));
    QVERIFY(qAbs(QTime::fromString(said.captured(1), "HH:mm:ss").secsTo(lastReading)) <= 1);
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QCOMPARE(rig.field("errorcount")->text(), "0");
    const QCPGraphDataContainer &readings =
        *control<TrendPlot>(*rig.window, "trend")->readings()->data();
    QVERIFY(std::isnan((readings.constEnd() - 1)->value));

    QTRY_VERIFY_WITH_TIMEOUT(!label->isVisible(), settleMs);
    QVERIFY(run->isChecked());
    QVERIFY(!std::isnan((readings.constEnd() - 1)->value));
    QCOMPARE(rig.field("errorcount")->text(), "0");
    run->click();
    rig.window->close();
    QStringList events;
    for (const QStringList &row : readRecord(rig.records.path()).rows)
        if (!row[7].isEmpty() && row[7] != "phase change" && row[7] != "setpoint sent")
            events << row[7];
    QCOMPARE(events, QStringList({"run started", "new cycle", "no reply", "replies again",
                                  "stopped by the operator"}));
}

// Silence is counted in polls since the last reply or since polling began, never across a time
// when nothing was polled.
void tst_history::silenceCountsOnlyWhilePolling()
{
    FakeSerialLink fake; // never answers
    fake.present = {"COM3"};
    chamber::main w(&fake);
    control<QTimer>(w, "Timer1")->stop();
    w.Form_Load();
    w.show();
    control<QComboBox>(w, "portselect")->setCurrentIndex(1);
    auto *label = control<QLabel>(w, "noreply");
    auto *autoread = control<QCheckBox>(w, "autoread");
    for (int round = 0; round < 2; ++round) {
        autoread->setChecked(true);
        const QTime began = QTime::currentTime();
        for (int i = 0; i < 8; ++i)
            w.Timer1_Timer();
        QVERIFY(!label->isVisible());
        w.Timer1_Timer(); // eight polls have gone unanswered: 2 s
        QVERIFY(label->isVisible());
        const QTime since = QTime::fromString(label->text().right(8), "HH:mm:ss");
        QVERIFY2(qAbs(since.secsTo(began)) <= 1, qPrintable(label->text()));
        autoread->setChecked(false);
        w.Timer1_Timer();
        QVERIFY(!label->isVisible());
    }
}

QTEST_MAIN(tst_history)
#include "tst_history.moc"
