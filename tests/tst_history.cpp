// What the window keeps of the past: the trend, the run records and a silent controller.
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
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <memory>

#include <sys/resource.h>

using namespace chamber;

namespace {

constexpr int settleMs = 10000; // generous for a sanitizer build on a busy machine
const QRegularExpression
    isoTime("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$");
const QStringList endings = {"completed", "stopped by the operator", "port lost", "window closed"};

// The one record in folder, read back: "# " comment lines, then the header and the rows.
struct Record
{
    explicit Record(const QString &folder)
    {
        const QFileInfoList files = QDir(folder).entryInfoList({"*.csv"});
        QFile file(files.value(0).filePath());
        if (files.size() != 1 || !file.open(QIODevice::ReadOnly))
            qFatal("not one readable record in %s", qPrintable(folder));
        name = files[0].fileName();
        for (const QString &line :
             QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
            line.startsWith("# ") ? void(comments << line.mid(2)) : void(rows << line.split(','));
        header = rows.takeFirst().join(',');
    }
    // Column index of the rows whose event is event ("" for readings).
    QStringList column(int index, const QString &event) const
    {
        QStringList values;
        for (const QStringList &row : rows)
            if (row.value(7) == event)
                values << row.value(index);
        return values;
    }

    QString name, header;
    QStringList comments;
    QList<QStringList> rows;
};

// chamber-sim, and the window talking to it through COM1 and recording into a folder of its own.
struct Rig
{
    explicit Rig(const QStringList &simArgs)
        : sim(simArgs + QStringList{"--log"})
    {}
    ~Rig() { qunsetenv("CHAMBERCTL_PORTS"); }

    bool start(const QStringList &points)
    {
        if (!sim.waitReady())
            return false;
        qputenv("CHAMBERCTL_PORTS", QFile::encodeName(sim.folder));
        window = std::make_unique<chamber::main>(&link);
        window->setRecordsFolder(records.path());
        window->Form_Load();
        window->show();
        for (int i = 0; i < points.size(); ++i) {
            field(QStringLiteral("setpoints(%1)").arg(i))->setText(points[i]);
            field(QStringLiteral("dwells(%1)").arg(i))->setText("1");
        }
        control<QComboBox>(*window, "portselect")->setCurrentText("COM1");
        run()->click();
        return run()->isChecked();
    }
    QLineEdit *field(const QString &name) { return control<QLineEdit>(*window, name); }
    QCheckBox *run() { return control<QCheckBox>(*window, "cyclerun"); }

    SimProcess sim;
    QTemporaryDir records;
    QtSerialLink link;
    std::unique_ptr<chamber::main> window;
};

// The window on a fake line with COM3 chosen, its timer stopped so that the test gives every tick.
// The controller answers each poll with a reading 0.5 C up from the last, or never answers.
struct FakeRig
{
    explicit FakeRig(bool answers)
    {
        fake.present = {"COM3"};
        if (answers)
            fake.answer = [this](const QByteArray &frame) {
                const QByteArray reply = QByteArray::fromHex("010302") + char(0) + char(tenths);
                fake.feed(frame.at(1) == 3 ? reply + calccrc(reply) : frame);
                tenths += 5;
            };
        control<QTimer>(window, "Timer1")->stop();
        window.Form_Load();
        window.show();
        control<QComboBox>(window, "portselect")->setCurrentIndex(1);
    }
    QCheckBox *box(const QString &name) { return control<QCheckBox>(window, name); }

    int tenths = 230;
    FakeSerialLink fake;
    chamber::main window{&fake};
};

QList<double> values(const QCPGraph *graph)
{
    QList<double> list;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        list << it->value;
    return list;
}

// The entries of the menu that a right-click on widget opens.
QStringList menuEntries(QWidget *widget)
{
    QStringList entries;
    QTimer::singleShot(0, [&] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            for (QAction *action : menu->actions())
                entries << action->text();
            menu->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, {5, 5}, widget->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(widget, &event);
    return entries;
}

} // namespace

class tst_history : public QObject
{
    Q_OBJECT
private slots:
    void trend();
    void records_data();
    void records();
    void unwritable_data();
    void unwritable();
    void silence();
    void silenceCountsOnlyWhilePolling();
};

// The plot in the band below the rule: every reading and setpoint sent, a run's phases and
// cycles, its live view and its menu.
void tst_history::trend()
{
    AlertCloser alerts;
    FakeRig rig(true);
    chamber::main &w = rig.window;
    auto *plot = control<TrendPlot>(w, "trend");
    QCOMPARE(plot->accessibleName(), "Temperature trend");
    const int bandTop = qRound(4800 * w.logicalDpiY() / 1440.0);
    QVERIFY(plot->geometry().top() > bandTop && plot->geometry().bottom() < w.height());
    for (QWidget *child : w.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (child != plot && child->isVisible())
            QVERIFY2(child->geometry().bottom() < bandTop, qPrintable(child->objectName()));

    rig.box("autoread")->setChecked(true);
    const double before = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    for (int i = 0; i < 4; ++i)
        w.Timer1_Timer();
    QCOMPARE(values(plot->readings()), QList<double>({23.0, 23.5, 24.0, 24.5}));
    const double first = plot->readings()->data()->constBegin()->key;
    QVERIFY(first >= before && first < before + 1);
    // Polling stops: the line breaks, and a reading asked for by hand is a dot of its own.
    rig.box("autoread")->setChecked(false);
    w.Timer1_Timer();
    QVERIFY(std::isnan(values(plot->readings()).last()));
    QTest::mouseClick(control<QPushButton>(w, "Command1(1)"), Qt::LeftButton);
    QCOMPARE(values(plot->singleReadings()), QList<double>{25.0});

    // Setpoints as sent; one refused for want of a port is not.
    for (const char *value : {"60.0", "70.0"}) {
        control<QLineEdit>(w, "setpoint")->setText(value);
        QTest::mouseClick(control<QPushButton>(w, "Command1(0)"), Qt::LeftButton);
        control<QComboBox>(w, "portselect")->setCurrentIndex(0);
    }
    QTRY_COMPARE(alerts.titles(), QStringList{"Serial port error"});
    QCOMPARE(values(plot->setpoints()), QList<double>({60.0, 60.0}));

    control<QComboBox>(w, "portselect")->setCurrentIndex(1);
    rig.box("cyclerun")->setChecked(true);
    w.Timer1_Timer();
    QCOMPARE(values(plot->setpoints()).last(), 75.0);
    QCOMPARE(values(plot->phaseBand("Heat")).last(), 1.0);
    QCOMPARE(values(plot->cycleMarks()), QList<double>{1.0});
    rig.box("cyclerun")->setChecked(false);
    QCOMPARE(values(plot->setpoints()).last(), 25.0);
    QCOMPARE(values(plot->phaseBand("Heat")).last(), 0.0);

    // Live, the view ends at the newest data; dragging leaves it, a double-click comes back.
    const double latest = (plot->readings()->data()->constEnd() - 1)->key;
    QVERIFY(plot->isLive() && plot->xAxis->range().upper >= latest);
    QCOMPARE(plot->xAxis->range().size(), TrendPlot::liveSpanSeconds);
    const QPoint middle = plot->rect().center();
    QTest::mousePress(plot, Qt::LeftButton, {}, middle);
    QMouseEvent drag(QEvent::MouseMove, middle + QPoint(150, 0), plot->mapToGlobal(middle),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(plot, &drag);
    QTest::mouseRelease(plot, Qt::LeftButton, {}, middle + QPoint(150, 0));
    QVERIFY(!plot->isLive() && plot->xAxis->range().upper < latest);
    QTest::mouseDClick(plot, Qt::LeftButton, {}, middle);
    QVERIFY(plot->isLive() && plot->xAxis->range().upper >= latest);

    const QStringList entries = {"Open profile…",          "Save profile…",     "",
                                 "Save plot as PNG…",      "Save plot as PDF…", "",
                                 "Open run records folder"};
    QCOMPARE(menuEntries(plot), entries);
    QCOMPARE(menuEntries(&w), entries);
}

void tst_history::records_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("phases");
    QTest::newRow("completed") << QStringList{"--rate", "100"} << "completed"
                               << QStringList{"30.0", "26.0", "25.0"} << "Heat Wait Cool Wait Hold";
    QTest::newRow("stopped") << QStringList{"--rate", "0.2"} << "stopped by the operator"
                             << QStringList{"30.0", "25.0"} << "Heat Hold";
    QTest::newRow("port lost") << QStringList{"--rate", "0.2", "--exit-after", "3"} << "port lost"
                               << QStringList{"30.0"} << "Heat Hold";
}

// Everything the run did is in its record, and how it ended.
void tst_history::records()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, ending);
    QFETCH(QStringList, sent);
    QFETCH(QString, phases);
    AlertCloser alerts;
    Rig rig(simArgs + QStringList{"--ambient", "25"});
    QVERIFY(rig.start({"30.0", "26.0"}));
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.logLines("read 100").size() >= 4, settleMs);
    if (ending == "completed")
        QTRY_VERIFY_WITH_TIMEOUT(!rig.run()->isChecked(), settleMs);
    else if (ending == "stopped by the operator")
        rig.run()->click();
    else
        QTRY_COMPARE_WITH_TIMEOUT(alerts.titles(), QStringList{"Com port error"}, settleMs);
    rig.window->close(); // closing waits for the record to be written
    const Record record(rig.records.path());

    const QString started = record.comments.value(2).mid(QStringLiteral("started: ").size());
    QVERIFY2(isoTime.match(started).hasMatch(), qPrintable(started));
    QDateTime previous = QDateTime::fromString(started, Qt::ISODateWithMs);
    QCOMPARE(record.name, previous.toString("yyyy-MM-ddTHH-mm-ss") + "_COM1.csv");
    QCOMPARE(record.comments,
             QStringList({"chamberctl " CHAMBERCTL_VERSION " run record", "port: COM1",
                          "started: " + started, "point 1: setpoint 30.0 C, dwell 1 s, used",
                          "point 2: setpoint 26.0 C, dwell 1 s, used",
                          "point 3: setpoint 35.0 C, dwell 5 s, not used",
                          "point 4: setpoint 25.0 C, dwell 5 s, not used", "cycles: 1"}));
    QCOMPARE(record.header, "time,elapsed_s,temperature_C,setpoint_C,phase,cycle,errors,event");

    double elapsed = 0;
    const QStringList read = rig.sim.logLines("read 100 = ");
    for (const QStringList &row : record.rows) {
        QVERIFY2(row.size() == 8 && isoTime.match(row[0]).hasMatch(), qPrintable(row.join(',')));
        const QDateTime when = QDateTime::fromString(row[0], Qt::ISODateWithMs);
        QVERIFY(when >= previous && row[1].toDouble() >= elapsed && row[6] == "0");
        previous = when;
        elapsed = row[1].toDouble();
        if (row[7].isEmpty()) // a reading, as the controller gave it
            QVERIFY(read.contains("read 100 = " + QString::number(qRound(row[2].toDouble() * 10))));
        QCOMPARE(endings.contains(row[7]), &row == &record.rows.last()); // the end, once, last
    }
    QCOMPARE(record.rows.first()[7], "run started");
    QCOMPARE(record.rows.last()[7], ending);
    QVERIFY(record.column(2, "").size() >= 4);
    QCOMPARE(record.column(3, "setpoint sent"), sent);
    QCOMPARE(record.column(4, "phase change").join(' '), phases);
    QCOMPARE(record.column(5, "new cycle"), QStringList{"1"});
}

void tst_history::unwritable_data()
{
    QTest::addColumn<bool>("diskFills");
    QTest::newRow("a folder that cannot be made") << false;
    QTest::newRow("a disk that fills up during the run") << true;
}

// One alert names the file and the reason, and the run goes on unrecorded.
void tst_history::unwritable()
{
    QFETCH(bool, diskFills);
    AlertCloser alerts;
    QTemporaryDir scratch;
    FakeRig rig(true);
    // A path under a regular file can't be made, even by root; a file size limit fails writes
    // with EFBIG as a full disk fails them with ENOSPC.
    QFile blocker(scratch.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    const QString folder = diskFills ? scratch.filePath("runs") : blocker.fileName() + "/runs";
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 2000;
    std::signal(SIGXFSZ, SIG_IGN);
    if (diskFills)
        setrlimit(RLIMIT_FSIZE, &small);
    rig.window.setRecordsFolder(folder);
    rig.box("cyclerun")->setChecked(true);
    for (int i = 0; i < 60; ++i)
        rig.window.Timer1_Timer();
    QTRY_COMPARE(alerts.titles(), QStringList{"Run record error"});
    setrlimit(RLIMIT_FSIZE, &before);
    const QString text = alerts.seen[0].text;
    const QString file = QRegularExpression::escape(folder) + "/[-0-9T]{19}_COM3.csv";
    QVERIFY2(text.contains(QRegularExpression(file)), qPrintable(text));
    QVERIFY2(text.contains(qt_error_string(diskFills ? EFBIG : ENOTDIR)), qPrintable(text));

    const qsizetype sent = rig.fake.sent.size();
    for (int i = 0; i < 8; ++i)
        rig.window.Timer1_Timer();
    QVERIFY(rig.box("cyclerun")->isChecked());
    QCOMPARE(rig.fake.sent.size(), sent + 8);
    QCOMPARE(rig.fake.sent.count(frameFor(u"settemp", 750)), 1);
    QCOMPARE(alerts.titles(), QStringList{"Run record error"});
}

// A controller that stops answering is shown, marked in the trend and the record, and forgotten
// at its next reply; the run goes on.
void tst_history::silence()
{
    Rig rig({"--rate", "0.2", "--ambient", "25", "--silent-after", "3", "--silent-for", "3"});
    QTime lastReading;
    QVERIFY(rig.start({"40.0"}));
    QObject::connect(control<QCheckBox>(*rig.window, "autosamples"), &QCheckBox::toggled,
                     [&] { lastReading = QTime::currentTime(); });
    auto *label = control<QLabel>(*rig.window, "noReply");
    QVERIFY(!label->isVisible());

    QTRY_VERIFY_WITH_TIMEOUT(label->isVisible(), settleMs);
    const QRegularExpressionMatch said =
        QRegularExpression("^No reply from the controller since (\\d\\d:\\d\\d:\\d\\d)$")
            .match(label->text());
    QVERIFY2(said.hasMatch(), qPrintable(label->text()));
    QVERIFY(qAbs(QTime::fromString(said.captured(1), "HH:mm:ss").secsTo(lastReading)) <= 1);
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    const auto &readings = *control<TrendPlot>(*rig.window, "trend")->readings()->data();
    QVERIFY(std::isnan((readings.constEnd() - 1)->value));

    QTRY_VERIFY_WITH_TIMEOUT(!label->isVisible(), settleMs);
    QVERIFY(rig.run()->isChecked() && !std::isnan((readings.constEnd() - 1)->value));
    QCOMPARE(rig.field("errorcount")->text(), "0");
    rig.run()->click();
    rig.window->close();
    QStringList events;
    for (const QStringList &row : Record(rig.records.path()).rows)
        if (!QStringList{"", "phase change", "setpoint sent"}.contains(row[7]))
            events << row[7];
    QCOMPARE(events, QStringList({"run started", "new cycle", "no reply", "replies again",
                                  "stopped by the operator"}));
}

// Silence is counted in polls since the last reply or since polling began, never across a time
// when nothing was polled.
void tst_history::silenceCountsOnlyWhilePolling()
{
    FakeRig rig(false);
    auto *label = control<QLabel>(rig.window, "noReply");
    for (int round = 0; round < 2; ++round) {
        rig.box("autoread")->setChecked(true);
        const QTime began = QTime::currentTime();
        for (int i = 0; i < 8; ++i)
            rig.window.Timer1_Timer();
        QVERIFY(!label->isVisible());
        rig.window.Timer1_Timer(); // eight polls have gone unanswered: 2 s
        QVERIFY(label->isVisible());
        const QTime since = QTime::fromString(label->text().right(8), "HH:mm:ss");
        QVERIFY2(qAbs(since.secsTo(began)) <= 1, qPrintable(label->text()));
        rig.box("autoread")->setChecked(false);
        rig.window.Timer1_Timer();
        QVERIFY(!label->isVisible());
    }
}

QTEST_MAIN(tst_history)
#include "tst_history.moc"
