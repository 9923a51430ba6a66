// A lab of chambers through a real mosquitto: runs against chamber-sim reach a subscriber whole and
// in order whatever the broker does; a refused password, TLS, the last will and the overview.
#include "band/band.h"
#include "broker/brokerlink.h"
#include "broker/brokerpublisher.h"
#include "link/qtseriallink.h"
#include "main/commandline.h"
#include "main/main.h"
#include "overview/overview.h"
#include "record/recordfile.h"
#include "record/runrecord.h"
#include "run/runfeed.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/mosquitto.h"
#include "support/simprocess.h"
#include "util/profilefile.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTableView>
#include <QtTest>
#include <qcustomplot.h>

#include <csignal>

using namespace chamber;

namespace {

constexpr int runMs = 60000;

BrokerSettings stationSettings(const QString &url, const QString &station)
{
    BrokerSettings settings;
    settings.url = url;
    QString error;
    settings.address = parseBrokerUrl(url, error).value_or(BrokerAddress{});
    settings.user = station;
    settings.password = Mosquitto::password(station);
    settings.station = station;
    // tried again within the test's patience
    settings.retryFirstMs = 100;
    settings.retryLastMs = 400;
    return settings;
}

// The window on the real serial link to chamber-sim, publishing, with port COM1 open, "Auto"
// ticked and a profile of two points of a second each loaded; its run records go to a folder of
// its own.
struct Station
{
    explicit Station(const BrokerSettings &settings)
        : sim({"--rate", "20", "--ambient", "25"})
    {
        if (!sim.waitReady())
            return;
        qputenv("CHAMBERCTL_PORTS", QFile::encodeName(sim.folder));
        QString error;
        writeProfile(folder.filePath("run.profile"),
                     {{30, 25, 0, 0}, {1, 1, 0, 0}, {true, true}, 1}, error);
        window.emplace(&link);
        publisher = attachBroker(*window, settings);
        window->Form_Load();
        window->show();
        window->applyStartOptions(
            {"COM1", folder.filePath("run.profile"), records(), true, {}, {}});
        qunsetenv("CHAMBERCTL_PORTS");
    }

    QString records() const { return folder.filePath("runs"); }
    QCheckBox *run() const { return control<QCheckBox>(*window, "cyclerun"); }
    QString phase() const { return control<QLineEdit>(*window, "cyclemode")->text(); }
    Notice *notice() const { return control<Notice>(*window, "broker"); }
    bool ready() const
    {
        return window && control<QLineEdit>(*window, "currenttemp")->text() == "25.0";
    }
    // The run's record: its events as "time event", and how many readings it holds.
    QStringList recordEvents(int &readings) const
    {
        QString error;
        // the run's record, not the manual one of the polling before it
        const QString run = QDir(records()).entryList({"*_COM1.csv"}).value(0);
        const auto record = readRecord(QDir(records()).filePath(run), error);
        QStringList events;
        readings = 0;
        for (const RunFact &row : record ? record->rows : QList<RunFact>()) {
            if (factEvent(row).isEmpty())
                ++readings;
            else
                events << isoLocalTime(row.when) + ' ' + factEvent(row);
        }
        return events;
    }

    QTemporaryDir folder;
    SimProcess sim;
    QtSerialLink link;
    std::optional<chamber::main> window;
    BrokerPublisher *publisher = nullptr;
};

// The events of runs as "time event", each once, or "gap" where a seq is missing. One sent again
// after a lost connection may come twice (QoS 1), with its seq. Those outside a run (the rest
// setpoint sent again after the end) are in no record.
QStringList runEvents(const QList<Subscriber::Message> &messages)
{
    QStringList lines;
    qint64 last = 0;
    for (const Subscriber::Message &message : messages) {
        const qint64 seq = message.payload["seq"].toInteger();
        if (seq <= last)
            continue;
        if (last > 0 && seq != last + 1)
            lines << "gap";
        last = seq;
        if (message.payload["run"].isString())
            lines << message.payload["time"].toString() + ' ' + message.payload["event"].toString();
    }
    return lines;
}

// The one retained message of topic, read by a subscriber of its own.
QJsonObject retained(const Mosquitto &broker, const QString &topic)
{
    Subscriber reader(broker, topic, {"-C", "1", "-W", "10"});
    reader.process.waitForFinished(15000);
    return reader.messages.value(0).payload;
}

} // namespace

class tst_broker : public QObject
{
    Q_OBJECT
private slots:
    // A run in which the broker is stopped in the first dwell and started again once the run has
    // moved on: the subscriber has every event of the record in order, readings,
    // the retained status and the summary; the band said the broker was away while it was.
    void runThroughBrokerRestart()
    {
        Mosquitto broker({"lab1"});
        QVERIFY2(broker.start(), qPrintable(broker.log()));
        // a persistent session: what is published while the subscriber is away waits for it
        Subscriber subscriber(broker, "chamberctl/#", {"-c", "-i", "restart-watch"});
        Station station(stationSettings(broker.url(), "lab1"));
        QTRY_VERIFY_WITH_TIMEOUT(station.ready(), 10000);
        QTRY_VERIFY(!subscriber.on("chamberctl/lab1/status").isEmpty());
        QTRY_VERIFY(subscriber.on("chamberctl/lab1/reading").size() >= 4); // "Auto" polls

        station.run()->click();
        QTRY_COMPARE_WITH_TIMEOUT(station.phase(), "Wait", 10000);
        broker.stop();
        QTRY_VERIFY(station.notice()->isVisible());
        QVERIFY(station.notice()->text().startsWith("Broker: not connected since "));
        QTRY_VERIFY_WITH_TIMEOUT(station.phase() != "Wait", 10000); // news while it is away
        QVERIFY2(broker.start(), qPrintable(broker.log()));
        QTRY_VERIFY_WITH_TIMEOUT(!station.notice()->isVisible(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!station.run()->isChecked(), runMs);

        int readings = 0;
        const QStringList events = station.recordEvents(readings);
        QVERIFY(events.size() > 10 && events.last().endsWith(" completed"));
        QTRY_COMPARE_WITH_TIMEOUT(runEvents(subscriber.on("chamberctl/lab1/event")), events, 10000);
        QCOMPARE(subscriber.on("chamberctl/lab1/reading").last().payload.keys(),
                 QStringList({"cycle", "errors", "phase", "setpoint_c", "temperature_c", "time"}));

        const QJsonObject status = retained(broker, "chamberctl/lab1/status");
        QCOMPARE(status["online"], true);
        QCOMPARE(status["port"], "COM1");
        QCOMPARE(status["run"], QJsonValue()); // the run's end
        const QJsonObject summary = retained(broker, "chamberctl/lab1/summary");
        QCOMPARE(summary["readings"], readings);
    }

    // A password the broker refuses: said once in an alert, though tried again and again, and
    // then only in the band; the run goes on to its end with its whole record.
    void refusedPassword()
    {
        AlertCloser alerts;
        Mosquitto broker({"lab1"});
        QVERIFY2(broker.start(), qPrintable(broker.log()));
        BrokerSettings settings = stationSettings(broker.url(), "lab1");
        settings.password = "not-the-password";
        Station station(settings);
        QSignalSpy attempts(station.publisher->link(), &BrokerLink::stateChanged);
        QTRY_VERIFY_WITH_TIMEOUT(station.ready(), 10000);
        station.run()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!station.run()->isChecked(), runMs);
        QTRY_VERIFY(attempts.size() >= 3);

        QCOMPARE(alerts.titles(), QStringList({"Broker error"}));
        QCOMPARE(alerts.seen[0].text, "The broker at " + broker.url() +
                                          " refused the connection: not authorised, check the "
                                          "user name and password. Nothing is published "
                                          "until this is put right; the chamber and its runs go "
                                          "on as before.");
        QVERIFY(station.notice()->text().endsWith(
            " (not authorised, check the user name and password)"));
        int readings = 0;
        const QStringList events = station.recordEvents(readings);
        QVERIFY(readings > 4 && events.last().endsWith(" completed"));
    }

    void tls_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("ca");
        QTest::addColumn<QString>("refusal"); // empty: connects
        const auto row = [](const char *name, const char *host, const char *ca,
                            const char *refusal) {
            QTest::newRow(name) << QString(host) << QString(ca) << QString(refusal);
        };
        row("its own authority", "localhost", "ca.crt", "");
        row("another authority", "localhost", "other.crt",
            "the broker's certificate is not signed by the authority in %1");
        row("another host name than the certificate's", "127.0.0.1", "ca.crt",
            "the broker's certificate is for another host name");
    }
    // mqtts://: the broker's certificate must be signed by the authority given, for the host
    // connected to; a refusal is said once in an alert and stays in the band.
    void tls()
    {
        QFETCH(QString, host);
        QFETCH(QString, ca);
        QFETCH(QString, refusal);
        AlertCloser alerts;
        Mosquitto broker({"lab1"}, true);
        QVERIFY2(broker.start(), qPrintable(broker.log()));
        Subscriber subscriber(broker, "chamberctl/lab1/status");
        BrokerSettings settings = stationSettings(broker.tlsUrl(host), "lab1");
        settings.caFile = broker.file(ca);
        Band band;
        BrokerPublisher publisher(settings, &band);
        auto *notice = band.findChild<Notice *>("broker");
        if (refusal.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(!subscriber.messages.isEmpty(), 10000);
            QCOMPARE(subscriber.messages[0].payload["online"], true);
            QVERIFY(publisher.link()->state().connected && notice->isHidden());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(alerts.titles(), QStringList({"Broker error"}), 10000);
        const QString reason = refusal.contains("%1") ? refusal.arg(settings.caFile) : refusal;
        QVERIFY2(alerts.seen[0].text.contains(reason), qPrintable(alerts.seen[0].text));
        QVERIFY(notice->text().endsWith('(' + reason + ')'));
    }

    // Two real programs publish, each with its password in the environment; the overview lists
    // both, shows an alarm in red, draws the chosen station's readings, and greys the one that was
    // killed once its last will has come.
    void overviewAndLastWill()
    {
        Mosquitto broker({"lab1", "lab2"});
        QVERIFY2(broker.start(), qPrintable(broker.log()));
        QTemporaryDir noPorts;
        QProcess lab1, lab2;
        for (QProcess *lab : {&lab1, &lab2}) {
            const QString name = lab == &lab1 ? "lab1" : "lab2";
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("CHAMBERCTL_MQTT_PASSWORD", Mosquitto::password(name));
            environment.insert("CHAMBERCTL_PORTS", noPorts.path());
            lab->setProcessEnvironment(environment);
            lab->setProcessChannelMode(QProcess::ForwardedChannels);
            lab->start(CHAMBERCTL,
                       {"--mqtt", broker.url(), "--mqtt-user", name, "--station", name});
        }

        Overview overview(stationSettings(broker.url(), Mosquitto::watcher));
        overview.show();
        QAbstractItemModel *rows = overview.stationTable()->model();
        const auto cell = [rows](int row, int column, int role = Qt::DisplayRole) {
            return rows->index(row, column).data(role);
        };
        const auto online = [&](int row) { return !cell(row, 7).toString().contains("offline"); };
        QTRY_VERIFY_WITH_TIMEOUT(rows->rowCount() == 2 && online(0) && online(1), 20000);
        QCOMPARE(cell(0, 0).toString(), "lab1");
        QCOMPARE(cell(1, 0).toString(), "lab2");
        QCOMPARE(cell(0, 2).toString(), "Hold");

        // JSON with ' for ", as lab1 would publish it
        const auto publishAs = [&broker](const QString &topic, QString payload) {
            QProcess pub;
            pub.start("mosquitto_pub",
                      {"-p", QString::number(broker.port), "-u", "lab1", "-P",
                       Mosquitto::password("lab1"), "-t", topic, "-m", payload.replace('\'', '"')});
            return pub.waitForFinished(10000) && pub.exitCode() == 0;
        };
        QVERIFY(publishAs("chamberctl/lab1/status",
                          "{'online': true, 'phase': 'Wait', 'cycle': 2, 'cycles': 3, "
                          "'alarm': 'out of tolerance', 'time': '2026-12-06T14:02:31.250+01:00'}"));
        QTRY_COMPARE(cell(0, 6).toString(), "out of tolerance");
        QCOMPARE(cell(0, 3).toString(), "2 of 3");
        QCOMPARE(cell(0, 1, Qt::BackgroundRole).value<QColor>(), QColor(255, 0, 0));
        overview.stationTable()->selectRow(0);
        QVERIFY(publishAs("chamberctl/lab1/reading",
                          "{'time': '2026-12-06T14:02:33.000+01:00', 'temperature_c': 24.5}"));
        QTRY_COMPARE(overview.trendPlot()->graph(1)->dataCount(), 1);

        ::kill(pid_t(lab2.processId()), SIGKILL); // no word of its own: the broker's will says it
        QTRY_VERIFY_WITH_TIMEOUT(!online(1), 10000);
        QCOMPARE(cell(1, 0, Qt::ForegroundRole).value<QColor>(), QColor(128, 128, 128));
        QVERIFY(online(0));
        lab1.kill();
        lab1.waitForFinished();
        lab2.waitForFinished();
    }
};

QTEST_MAIN(tst_broker)
#include "tst_broker.moc"
