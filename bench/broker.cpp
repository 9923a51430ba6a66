// Measures what the broker costs: the tick during a run without publishing, publishing to a broker,
// and with the broker gone; and the lab overview beside a hundred stations that publish four
// readings a second each.
//
//   bench_broker tick | overview [seconds] | publish PORT STATIONS SECONDS
#include "answeringlink.h"
#include "broker/brokerlink.h"
#include "broker/brokerpublisher.h"
#include "measure.h"
#include "overview/overview.h"
#include "record/runrecord.h"
#include "support/mosquitto.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <mqtt/async_client.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

using namespace std::chrono_literals;
using chamber::BrokerLink;
using chamber::BrokerMessage;
using chamber::BrokerSettings;
using chamber::Mosquitto;

namespace {

constexpr int ticks = 120;
constexpr int stations = 100;
constexpr int readingsPerSecond = 4;
constexpr int warmUpS = 5;
constexpr int settleMs = 60000;

QString stationName(int i)
{
    return QStringLiteral("s%1").arg(i, 3, 10, QLatin1Char('0'));
}

QStringList stationNames()
{
    QStringList names;
    for (int i = 0; i < stations; ++i)
        names << stationName(i);
    return names;
}

BrokerSettings settingsFor(const Mosquitto &broker, const QString &user)
{
    BrokerSettings settings;
    settings.url = broker.url();
    settings.address = {false, QStringLiteral("127.0.0.1"), broker.port};
    settings.user = user;
    settings.password = Mosquitto::password(user);
    settings.station = user;
    return settings;
}

// Runs the event loop, sleeping while nothing comes, until done() holds or ms have passed.
bool waitFor(const std::function<bool()> &done, int ms)
{
    const QDeadlineTimer deadline(ms);
    QTimer look; // so that the loop wakes up to look
    look.start(50);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

void printTicks(const char *what, QList<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("  %-34s median %.2f ms, 90th percentile %.2f ms, slowest %.2f ms\n", what,
                chamber::median(times), times[times.size() * 9 / 10], times.last());
}

int benchTick()
{
    Mosquitto broker({QStringLiteral("lab1")});
    if (!broker.start()) {
        std::fprintf(stderr, "mosquitto did not start: %s\n", qPrintable(broker.log()));
        return 1;
    }
    chamber::AnsweringWindow answering;
    chamber::main &window = answering.window;
    // a run toward 75.0 C that the chamber never reaches: every tick polls and records a reading
    window.findChild<QCheckBox *>(QStringLiteral("cyclerun"))->setChecked(true);
    window.Timer1_Timer();

    const QList<double> alone = chamber::timedTicks(window, ticks);
    chamber::BrokerPublisher *publisher =
        chamber::attachBroker(window, settingsFor(broker, "lab1"));
    if (!waitFor([publisher] { return publisher->link()->state().connected; }, settleMs)) {
        std::fprintf(stderr, "the publisher did not connect\n");
        return 1;
    }
    const QList<double> publishing = chamber::timedTicks(window, ticks);
    broker.stop();
    waitFor([publisher] { return !publisher->link()->state().connected; }, settleMs);
    const QList<double> away = chamber::timedTicks(window, ticks);
    window.findChild<QCheckBox *>(QStringLiteral("cyclerun"))->setChecked(false);

    std::printf("tick during a run, every reading recorded (%d each; the poll's pause is 50 ms "
                "of it):\n",
                ticks);
    printTicks("no broker:", alone);
    printTicks("publishing to mosquitto:", publishing);
    printTicks("broker gone (connecting again):", away);
    return 0;
}

// A hundred stations, each with its own connection: a retained status, then readings four times
// a second for seconds. Prints how many readings went out.
int publish(int port, int count, int seconds)
{
    std::vector<std::unique_ptr<mqtt::async_client>> clients;
    std::vector<mqtt::token_ptr> connecting;
    try {
        for (int i = 0; i < count; ++i) {
            const QString name = stationName(i);
            clients.push_back(std::make_unique<mqtt::async_client>(
                QStringLiteral("tcp://127.0.0.1:%1").arg(port).toStdString(),
                ("bench-" + name).toStdString()));
            mqtt::connect_options options;
            options.set_user_name(name.toStdString());
            options.set_password(Mosquitto::password(name).toStdString());
            connecting.push_back(clients.back()->connect(options));
        }
        for (int i = 0; i < count; ++i) {
            connecting[size_t(i)]->wait();
            const QByteArray status = QJsonDocument(QJsonObject{{"online", true},
                                                                {"port", "COM1"},
                                                                {"phase", "Heat"},
                                                                {"cycle", 1},
                                                                {"cycles", 3},
                                                                {"alarm", QJsonValue()}})
                                          .toJson(QJsonDocument::Compact);
            clients[size_t(i)]->publish("chamberctl/" + stationName(i).toStdString() + "/status",
                                        status.constData(), size_t(status.size()), 1, true);
        }
    } catch (const mqtt::exception &e) {
        std::fprintf(stderr, "publisher: %s\n", e.what());
        return 1;
    }
    long sent = 0;
    auto next = std::chrono::steady_clock::now();
    for (int beat = 0; beat < seconds * readingsPerSecond; ++beat) {
        const QString time = chamber::isoLocalTime(QDateTime::currentDateTime());
        for (int i = 0; i < count; ++i) {
            const QByteArray reading =
                QJsonDocument(QJsonObject{{"time", time},
                                          {"temperature_c", 40 + 20 * std::sin(beat * 0.01 + i)},
                                          {"setpoint_c", 60.0},
                                          {"phase", "Heat"},
                                          {"cycle", 1},
                                          {"errors", 0}})
                    .toJson(QJsonDocument::Compact);
            try {
                clients[size_t(i)]->publish("chamberctl/" + stationName(i).toStdString() +
                                                "/reading",
                                            reading.constData(), size_t(reading.size()), 0, false);
                ++sent;
            } catch (const mqtt::exception &) {
                // counted as not sent
            }
        }
        next += 250ms;
        std::this_thread::sleep_until(next);
    }
    std::printf("%ld\n", sent);
    return 0;
}

int benchOverview(const QString &self, int seconds)
{
    Mosquitto broker(stationNames());
    if (!broker.start()) {
        std::fprintf(stderr, "mosquitto did not start: %s\n", qPrintable(broker.log()));
        return 1;
    }
    QProcess publisher;
    publisher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    publisher.start(self, {QStringLiteral("publish"), QString::number(broker.port),
                           QString::number(stations), QString::number(seconds + warmUpS + 30)});

    chamber::Overview overview(settingsFor(broker, Mosquitto::watcher));
    overview.show();
    long received = 0;
    QByteArray last; // the latest reading, to tell how far behind the overview is
    QObject::connect(overview.findChild<BrokerLink *>(), &BrokerLink::received, &overview,
                     [&](const QList<BrokerMessage> &messages) {
                         received += messages.size();
                         last = messages.constLast().payload;
                     });
    QAbstractItemModel *rows = overview.stationTable()->model();
    if (!waitFor([rows] { return rows->rowCount() == stations; }, settleMs)) {
        std::fprintf(stderr, "the overview shows %d stations\n", rows->rowCount());
        return 1;
    }
    overview.stationTable()->selectRow(0); // its trend drawn too
    waitFor([] { return false; }, warmUpS * 1000);

    const qint64 cpuBefore = chamber::cpuNs();
    const long receivedBefore = received;
    QElapsedTimer clock;
    clock.start();
    waitFor([] { return false; }, seconds * 1000);
    const double wallS = clock.nsecsElapsed() / 1e9;
    const double cpuS = (chamber::cpuNs() - cpuBefore) / 1e9;
    const double perSecond = (received - receivedBefore) / wallS;
    const QDateTime lastTime = QDateTime::fromString(
        QJsonDocument::fromJson(last).object()[QStringLiteral("time")].toString(),
        Qt::ISODateWithMs);
    const qint64 lagMs = lastTime.msecsTo(QDateTime::currentDateTime());
    const chamber::Memory memory;

    std::printf("lab overview, %d stations at %d readings a second (%d expected a second), "
                "offscreen, over %.0f s after %d s:\n",
                stations, readingsPerSecond, stations * readingsPerSecond, wallS, warmUpS);
    std::printf("  messages received: %.1f a second; the latest was %lld ms old\n", perSecond,
                lagMs);
    std::printf("  CPU: %.2f %% of a core, all threads (/proc/self/task/*/schedstat; target: "
                "under 5 %%)\n",
                100 * cpuS / wallS);
    std::printf("  memory: RSS %.1f MB, PSS %.1f MB\n", memory.rssMb, memory.pssMb);
    publisher.kill();
    publisher.waitForFinished();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QStringList args = [&] {
        QStringList list;
        for (int i = 1; i < argc; ++i)
            list << QString::fromLocal8Bit(argv[i]);
        return list;
    }();
    if (args.value(0) == QLatin1String("publish") && args.size() == 4)
        return publish(args[1].toInt(), args[2].toInt(), args[3].toInt());
    QApplication app(argc, argv);
    if (args.value(0) == QLatin1String("tick"))
        return benchTick();
    if (args.value(0) == QLatin1String("overview"))
        return benchOverview(QCoreApplication::applicationFilePath(),
                             args.size() > 1 ? args[1].toInt() : 30);
    std::fprintf(stderr, "usage: bench_broker tick | overview [seconds]\n");
    return 2;
}
