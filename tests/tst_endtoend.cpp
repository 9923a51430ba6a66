// chamberctl end to end: started with its options, the window and the real serial link run a
// whole profile against chamber-sim over a pseudo-terminal.
#include "link/qtseriallink.h"
#include "main/commandline.h"
#include "main/main.h"
#include "record/recordfile.h"
#include "support/control.h"
#include "support/files.h"
#include "support/simprocess.h"
#include "util/profilefile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

using namespace chamber;

namespace {

// The desktop's notifications service, as a session bus offers it: what it was asked to show.
class Notifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList bodies;

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        bodies << body;
        return uint(bodies.size());
    }
};

// chamberctl on the simulator's port COM1, started with options as the program applies them.
struct Started
{
    Started(const SimProcess &sim, const StartOptions &options)
    {
        qputenv("CHAMBERCTL_PORTS", QFile::encodeName(sim.folder));
        window.Form_Load();
        window.show();
        window.applyStartOptions(options);
    }
    ~Started() { qunsetenv("CHAMBERCTL_PORTS"); }

    QtSerialLink link;
    chamber::main window{&link};
};

// The events of the run record in folder begun at the index-th start time, in order; the manual
// record of the polling before the runs is none of them.
QStringList recordEvents(const QString &folder, int index)
{
    QString error;
    const auto record = readRecord(
        QDir(folder).entryInfoList({"*_COM1.csv"}, QDir::Files, QDir::Name).value(index).filePath(),
        error);
    QStringList events;
    for (const RunFact &row : record ? record->rows : QList<RunFact>())
        if (row.kind == RunFact::Event || row.kind == RunFact::RunEnded)
            events << row.text;
    events.removeIf([](const QString &event) { return event.startsWith("approaching point"); });
    return events;
}

} // namespace

class tst_endtoend : public QObject
{
    Q_OBJECT
private slots:
    // --port, --profile, --records, --auto, --operator and --test-id as the program applies
    // them, then two points run twice: every frame reaches the controller whole, and the readings
    // that come back drive it. The run leaves its record, and the real program makes its report
    // and summary from it, and again from the record alone with --report.
    void wholeRun()
    {
        QTemporaryDir folder;
        const QString profile = folder.filePath("run.profile"), records = folder.filePath("runs");
        QString error;
        Profile twoPoints{{40, 30, 35, 25}, {1, 1, 1, 1}, {true, true}, 2};
        twoPoints.conditions.toleranceC = 0.5;
        QVERIFY2(writeProfile(profile, twoPoints, error), qPrintable(error));
        SimProcess sim({"--rate", "100", "--ambient", "25", "--log"});
        QVERIFY(sim.waitReady());
        Started started(sim, {"COM1", profile, records, true, "A. Operator", "T-17"});
        chamber::main &window = started.window;
        window.setReportProgram(CHAMBERCTL);
        QTRY_COMPARE_WITH_TIMEOUT(control<QLineEdit>(window, "currenttemp")->text(), "25.0", 10000);
        auto *run = control<QCheckBox>(window, "cyclerun");
        run->click();
        QTRY_VERIFY_WITH_TIMEOUT(!run->isChecked(), 60000);
        QCOMPARE(control<QLineEdit>(window, "errorcount")->text(), "0");
        control<QComboBox>(window, "portselect")->setCurrentIndex(0);
        window.close(); // waits for the run record to be written

        QCOMPARE(sim.stop(), QString());
        QCOMPARE(sim.logLines("garbage"), QStringList());
        // The profile twice, then the rest setpoint twice: the last step clears the Run box,
        // whose handler ends the run, and then ends it once more itself.
        QCOMPARE(sim.logLines("setpoint "),
                 QStringList({"setpoint 400", "setpoint 300", "setpoint 400", "setpoint 300",
                              "setpoint 250", "setpoint 250"}));
        // the run's record, not the manual record of the readings polled before it
        const QStringList made = QDir(records).entryList({"*_COM1.csv"});
        QCOMPARE(made.size(), 1);

        const QString record = QDir(records).filePath(made.first());
        const QString base = record.chopped(4);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(base + ".summary.json"), 30000);
        const QString text = pdfText(base + ".pdf", {"-layout"});
        for (const char *part : {"Run report", "chamberctl " CHAMBERCTL_VERSION, "COM1 (device ",
                                 "run.profile", "tolerance ±0.50 °C", "A. Operator", "T-17",
                                 "How it ended completed", "Verdict: PASS"})
            QVERIFY2(text.simplified().contains(part), qPrintable(part + ("\n" + text)));
        // one row per cycle and point: cycle, point, setpoint ... result
        static const QRegularExpression row("^ *(\\d) +(\\d) +(\\d+\\.\\d) .* pass$",
                                            QRegularExpression::MultilineOption);
        QStringList rows;
        for (auto it = row.globalMatch(text); it.hasNext();) {
            const auto match = it.next();
            rows << match.captured(1) + "/" + match.captured(2) + " " + match.captured(3);
        }
        QCOMPARE(rows, QStringList({"1/1 40.0", "1/2 30.0", "2/1 40.0", "2/2 30.0"}));
        const QJsonObject summary =
            QJsonDocument::fromJson(contents(base + ".summary.json")).object();
        QCOMPARE(summary.value("verdict").toString(), "pass");

        // the same from the record alone, with no display
        QProcess again;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        again.setProcessEnvironment(environment);
        again.start(CHAMBERCTL, {"--report", record, "--output", folder.filePath("again.pdf")});
        QVERIFY(again.waitForFinished(30000));
        QCOMPARE(again.exitCode(), 0);
        QCOMPARE(contents(folder.filePath("again.summary.json")), contents(base + ".summary.json"));
        QCOMPARE(pdfText(folder.filePath("again.pdf"), {"-layout"}), text);
    }

    // A chamber that stops 0.3 short of its setpoints, whose readings drop by 3.0 for 1.5 s six
    // seconds after it starts (a door opened). With a band of 0.5 its approach ends, and the door
    // pauses the soak and raises an alarm; with a band of 0.2 the approach never ends, and its
    // alarm ends the run with the rest setpoint. Each alarm reaches the desktop's notifications.
    void unattendedRuns()
    {
        QProcess bus; // a session bus of our own, as a desktop has
        bus.start("dbus-daemon", {"--session", "--print-address=1", "--nofork"});
        QVERIFY(bus.waitForReadyRead(simStartMs));
        const QString address = QString::fromUtf8(bus.readLine().trimmed());
        QDBusConnection desktop = QDBusConnection::connectToBus(address, "desktop");
        Notifications notifications;
        QVERIFY(desktop.registerService("org.freedesktop.Notifications") &&
                desktop.registerObject("/org/freedesktop/Notifications", &notifications,
                                       QDBusConnection::ExportAllSlots));
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());

        QTemporaryDir folder;
        const QString records = folder.filePath("runs");
        const auto profile = [&](const QString &name, const QByteArray &conditions) {
            QString error;
            const auto held = parseConditionsLine(conditions, error);
            const QString path = folder.filePath(name);
            return held && writeProfile(path, {{40, 30}, {600, 1}, {true, true}, 1, *held}, error)
                       ? path
                       : QString();
        };
        const QString soak = profile(
            "soak.profile", R"({"tolerance_c":0.5,"guaranteed_soak":true,"deviation_delay_s":0})");
        const QString tight = profile(
            "tight.profile", R"({"tolerance_c":0.2,"approach_limit_s":1,"on_alarm":"end"})");
        SimProcess sim({"--rate", "100", "--ambient", "25", "--settle-short", "0.3", "--disturb-by",
                        "-3", "--disturb-after", "6", "--disturb-for", "1.5", "--log"});
        QVERIFY(sim.waitReady());
        Started started(sim, {"COM1", soak, records, true, {}, {}});
        chamber::main &window = started.window;
        auto *run = control<QCheckBox>(window, "cyclerun");
        auto *bar = control<QLabel>(window, "alarm");
        auto *status = control<QLabel>(window, "runStatus");
        QTRY_COMPARE_WITH_TIMEOUT(control<QLineEdit>(window, "currenttemp")->text(), "25.0", 10000);
        run->click();
        QTRY_VERIFY_WITH_TIMEOUT(status->text().endsWith(" · soak paused: 36.7 °C"), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!status->text().contains("soak paused"), 5000);
        QTest::mouseClick(bar, Qt::LeftButton);
        run->click();

        QVERIFY(window.loadProfile(tight));
        run->click();
        QTRY_VERIFY_WITH_TIMEOUT(!run->isChecked(), 10000);
        QVERIFY2(status->text().startsWith("Run ended by alarm at "), qPrintable(status->text()));
        QTRY_COMPARE(notifications.bodies,
                     QStringList({"out of tolerance at point 1: 36.7 °C, setpoint 40.0 ± 0.5",
                                  "setpoint not reached at point 1 within 1 s: 39.7 °C, setpoint "
                                  "40.0 ± 0.2"}));
        control<QComboBox>(window, "portselect")->setCurrentIndex(0);
        window.close(); // waits for the run records to be written
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        bus.terminate();
        bus.waitForFinished(simStartMs);

        QCOMPARE(sim.stop(), QString());
        QCOMPARE(sim.logLines("setpoint "),
                 QStringList({"setpoint 400", "setpoint 250", "setpoint 400", "setpoint 250"}));
        QCOMPARE(recordEvents(records, 0),
                 QStringList({"soak paused", "alarm: out of tolerance", "soak resumed",
                              "alarm acknowledged", "stopped by the operator"}));
        QCOMPARE(recordEvents(records, 1),
                 QStringList({"alarm: setpoint not reached", "ended by alarm"}));
    }
};

QTEST_MAIN(tst_endtoend)
#include "tst_endtoend.moc"
