// The Paho side of the broker link: connecting and trying again, publishing in order, subscribing.
#include "broker/brokerlink.h"

#include "broker/delivery.h"

#include <QJsonDocument>
#include <QMap>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <mqtt/async_client.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace chamber {

namespace {

constexpr int keepAliveS = 15; // a dead connection is noticed within one and a half times this
constexpr int connectTimeoutS = 10;
constexpr int diagnoseMs = 3000;
constexpr int maxInflight = 20; // Paho's own limit, above the event queue's window
constexpr int disconnectMs = 1000;
constexpr int qosAtMostOnce = 0;
constexpr int qosAtLeastOnce = 1;

std::string utf8(const QString &text)
{
    return text.toStdString();
}

// "tcp://host:1883", "ssl://[::1]:8883"
std::string pahoUri(const BrokerAddress &address)
{
    const QString host = address.host.contains(QLatin1Char(':'))
                             ? QStringLiteral("[%1]").arg(address.host)
                             : address.host;
    return utf8(QStringLiteral("%1://%2:%3")
                    .arg(QLatin1String(address.tls ? "ssl" : "tcp"), host)
                    .arg(address.port));
}

QByteArray compact(const QJsonObject &payload)
{
    return QJsonDocument(payload).toJson(QJsonDocument::Compact);
}

// The broker's answer to CONNECT in MQTT 3.1.1; empty for codes that are not such an answer.
QString connackReason(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("protocol version refused");
    case 2:
        return QStringLiteral("client identifier refused");
    case 3:
        return QStringLiteral("broker unavailable");
    case 4:
        return QStringLiteral("user name or password refused");
    case 5:
        return QStringLiteral("not authorised, check the user name and password");
    default:
        return {};
    }
}

QString socketReason(const QAbstractSocket &socket)
{
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("host not found");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("no answer");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("network unreachable");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("closed by the broker");
    default:
        return socket.errorString();
    }
}

QString certificateReason(const QSslError &error, const QString &caFile)
{
    switch (error.error()) {
    case QSslError::HostNameMismatch:
        return QStringLiteral("the broker's certificate is for another host name");
    case QSslError::CertificateExpired:
        return QStringLiteral("the broker's certificate has expired");
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("the broker's certificate is not valid yet");
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
        return caFile.isEmpty()
                   ? QStringLiteral("the broker's certificate is not signed by an authority "
                                    "this computer trusts")
                   : QStringLiteral("the broker's certificate is not signed by the authority "
                                    "in %1")
                         .arg(caFile);
    default:
        return QStringLiteral("the broker's certificate was refused: %1").arg(error.errorString());
    }
}

// Paho says only that connecting failed; a connection of our own finds out why. certificate is
// set when the broker's certificate was refused.
QString diagnose(const BrokerSettings &settings, bool &certificate)
{
    const BrokerAddress &address = settings.address;
    const QString silent = QStringLiteral("the broker did not answer");
    if (!address.tls || !QSslSocket::supportsSsl()) {
        QTcpSocket socket;
        socket.connectToHost(address.host, quint16(address.port));
        return socket.waitForConnected(diagnoseMs) ? silent : socketReason(socket);
    }
    QSslSocket socket;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (!settings.caFile.isEmpty())
        configuration.setCaCertificates(QSslCertificate::fromPath(settings.caFile));
    socket.setSslConfiguration(configuration);
    socket.connectToHostEncrypted(address.host, quint16(address.port));
    if (socket.waitForEncrypted(diagnoseMs))
        return silent;
    const QList<QSslError> errors = socket.sslHandshakeErrors();
    if (errors.isEmpty())
        return socketReason(socket);
    certificate = true;
    return certificateReason(errors.constFirst(), settings.caFile);
}

} // namespace

// Lives on the link's thread; every call into Paho is made from here.
class BrokerLink::Worker : public QObject
{
public:
    Worker(const BrokerSettings &settings, const QString &clientId, const BrokerMessage &will,
           const QStringList &filters, std::shared_ptr<Relay> relay)
        : settings(settings)
        , clientId(utf8(clientId))
        , will(will)
        , filters(filters)
        , relay(std::move(relay))
        , delay(settings.retryFirstMs, settings.retryLastMs)
    {}

    void start();
    void post(const QString &topic, const QJsonObject &payload, Delivery delivery);
    void finish();
    void stop();

    // Paho's news, queued here by the relay.
    void connected();
    void connectFailed(int code);
    void lost();
    void delivered();

private:
    void connectNow();
    void down(const QString &reason, bool refused);
    void pump();
    mqtt::delivery_token_ptr publish(const QString &topic, const QByteArray &payload, int qos,
                                     bool retained);
    void checkFinished();
    void tell();

    BrokerSettings settings;
    std::string clientId;
    BrokerMessage will;
    QStringList filters;
    std::shared_ptr<Relay> relay;
    std::unique_ptr<mqtt::async_client> client;
    mqtt::connect_options options;
    QTimer *retry = nullptr;
    ReconnectDelay delay;
    EventQueue events;
    std::deque<mqtt::delivery_token_ptr> unconfirmed; // of the events sent, oldest first
    QMap<QString, QByteArray> latest;                 // the retained messages, by topic
    mqtt::delivery_token_ptr lastRetained;
    BrokerState state;
    bool connecting = false;
    bool finishing = false;
    bool stopped = false;
};

// Paho's threads reach the link only through here: under its lock, and only while the link and
// its worker exist, as calls queued to their own threads.
struct BrokerLink::Relay final : mqtt::iaction_listener
{
    std::mutex mutex;
    Worker *worker = nullptr;
    BrokerLink *link = nullptr;
    QList<BrokerMessage> inbox; // handed to the link in one go
    std::condition_variable finishedChanged;
    bool finished = false;

    void toWorker(std::function<void(Worker &)> call)
    {
        const std::lock_guard lock(mutex);
        if (worker)
            QMetaObject::invokeMethod(
                worker, [target = worker, call = std::move(call)] { call(*target); },
                Qt::QueuedConnection);
    }
    void toLink(std::function<void(BrokerLink &)> call)
    {
        const std::lock_guard lock(mutex);
        if (link)
            QMetaObject::invokeMethod(
                link, [target = link, call = std::move(call)] { call(*target); },
                Qt::QueuedConnection);
    }
    void arrived(const mqtt::const_message_ptr &message)
    {
        const std::lock_guard lock(mutex);
        const bool first = inbox.isEmpty();
        const std::string &payload = message->get_payload_str();
        inbox.append({QString::fromStdString(message->get_topic()),
                      QByteArray(payload.data(), qsizetype(payload.size()))});
        if (first && link)
            QMetaObject::invokeMethod(
                link, [target = link] { target->takeReceived(); }, Qt::QueuedConnection);
    }
    void setFinished()
    {
        {
            const std::lock_guard lock(mutex);
            finished = true;
        }
        finishedChanged.notify_all();
    }

    void on_success(const mqtt::token &token) override;
    void on_failure(const mqtt::token &token) override;
};

void BrokerLink::Relay::on_success(const mqtt::token &token)
{
    if (token.get_type() == mqtt::token::CONNECT)
        toWorker([](Worker &worker) { worker.connected(); });
    else if (token.get_type() == mqtt::token::PUBLISH)
        toWorker([](Worker &worker) { worker.delivered(); });
}

void BrokerLink::Relay::on_failure(const mqtt::token &token)
{
    if (token.get_type() == mqtt::token::CONNECT) {
        const int code = token.get_return_code();
        toWorker([code](Worker &worker) { worker.connectFailed(code); });
    } else if (token.get_type() == mqtt::token::PUBLISH) {
        toWorker([](Worker &worker) { worker.delivered(); });
    }
}

void BrokerLink::Worker::start()
{
    retry = new QTimer(this);
    retry->setSingleShot(true);
    connect(retry, &QTimer::timeout, this, [this] {
        if (state.connected)
            pump(); // a publish failed on a connection that stayed up
        else if (!connecting && !stopped)
            connectNow();
    });
    state.since = QDateTime::currentDateTime();

    options.set_mqtt_version(MQTTVERSION_3_1_1);
    options.set_clean_session(true);
    options.set_keep_alive_interval(keepAliveS);
    options.set_connect_timeout(connectTimeoutS);
    options.set_automatic_reconnect(false); // ours waits longer after each failure, and says so
    options.set_max_inflight(maxInflight);
    if (!settings.user.isEmpty())
        options.set_user_name(utf8(settings.user));
    if (!settings.password.isEmpty())
        options.set_password(utf8(settings.password));
    if (!will.topic.isEmpty())
        options.set_will(mqtt::will_options(utf8(will.topic), will.payload.constData(),
                                            size_t(will.payload.size()), qosAtLeastOnce, true));
    if (settings.address.tls) {
        mqtt::ssl_options ssl;
        if (!settings.caFile.isEmpty())
            ssl.set_trust_store(utf8(settings.caFile));
        ssl.set_enable_server_cert_auth(true);
        ssl.set_verify(true); // the certificate must name the host connected to
        options.set_ssl(ssl);
    }
    try {
        client = std::make_unique<mqtt::async_client>(pahoUri(settings.address), clientId);
    } catch (const mqtt::exception &e) {
        stopped = true; // nothing to try again with
        down(QString::fromStdString(e.what()), true);
        return;
    }
    client->set_connection_lost_handler([relay = relay](const std::string &) {
        relay->toWorker([](Worker &worker) { worker.lost(); });
    });
    if (!filters.isEmpty()) {
        client->set_message_callback(
            [relay = relay](mqtt::const_message_ptr message) { relay->arrived(message); });
    }
    connectNow();
}

void BrokerLink::Worker::connectNow()
{
    connecting = true;
    try {
        client->connect(options, nullptr, *relay);
    } catch (const mqtt::exception &e) {
        connectFailed(e.get_return_code());
    }
}

void BrokerLink::Worker::connected()
{
    connecting = false;
    if (stopped)
        return;
    state = {true, QDateTime::currentDateTime(), {}, false};
    delay.reset();
    events.sendAgain();
    unconfirmed.clear();
    for (const QString &filter : std::as_const(filters)) {
        try {
            client->subscribe(utf8(filter), qosAtLeastOnce);
        } catch (const mqtt::exception &) {
            // lost again at once: the next connection subscribes anew
        }
    }
    for (auto it = latest.cbegin(); it != latest.cend(); ++it)
        lastRetained = publish(it.key(), it.value(), qosAtLeastOnce, true);
    tell();
    pump();
    checkFinished();
}

void BrokerLink::Worker::connectFailed(int code)
{
    connecting = false;
    bool refused = code == 4 || code == 5; // the user name or password, or the topics
    QString reason = connackReason(code);
    if (reason.isEmpty())
        reason = diagnose(settings, refused);
    down(reason, refused);
}

void BrokerLink::Worker::lost()
{
    events.sendAgain();
    unconfirmed.clear();
    down(QStringLiteral("connection lost"), false);
}

void BrokerLink::Worker::down(const QString &reason, bool refused)
{
    if (state.connected)
        state.since = QDateTime::currentDateTime();
    state.connected = false;
    state.reason = reason;
    state.refused = refused;
    tell();
    if (!stopped && !finishing)
        retry->start(delay.next());
    checkFinished();
}

void BrokerLink::Worker::post(const QString &topic, const QJsonObject &payload, Delivery delivery)
{
    switch (delivery) {
    case Latest:
        latest.insert(topic, compact(payload));
        if (state.connected)
            lastRetained = publish(topic, latest.value(topic), qosAtLeastOnce, true);
        break;
    case InOrder:
        events.push({topic, payload});
        pump();
        break;
    case NowOrNever:
        // missed while away and not sent again: the run's record has them all
        if (state.connected)
            publish(topic, compact(payload), qosAtMostOnce, false);
        break;
    }
}

void BrokerLink::Worker::pump()
{
    if (!state.connected)
        return;
    while (const std::optional<EventQueue::Message> next = events.takeNext()) {
        mqtt::delivery_token_ptr token =
            publish(next->topic, compact(next->event), qosAtLeastOnce, false);
        if (!token) {
            // Paho found the connection gone before we heard: its loss brings them back
            events.sendAgain();
            unconfirmed.clear();
            return;
        }
        unconfirmed.push_back(std::move(token));
    }
}

mqtt::delivery_token_ptr
BrokerLink::Worker::publish(const QString &topic, const QByteArray &payload, int qos, bool retained)
{
    try {
        return client->publish(utf8(topic), payload.constData(), size_t(payload.size()), qos,
                               retained, nullptr, *relay);
    } catch (const mqtt::exception &) {
        return nullptr;
    }
}

void BrokerLink::Worker::delivered()
{
    while (!unconfirmed.empty() && unconfirmed.front()->is_complete()) {
        const bool ok = unconfirmed.front()->get_return_code() == MQTTASYNC_SUCCESS;
        unconfirmed.pop_front();
        if (!ok) {
            // Sent again from there, after a pause, so that a broker refusing them is not
            // flooded; a lost connection does the same sooner.
            events.sendAgain();
            unconfirmed.clear();
            retry->start(delay.next());
            return;
        }
        events.confirmed();
    }
    pump();
    checkFinished();
}

void BrokerLink::Worker::finish()
{
    finishing = true;
    checkFinished();
}

void BrokerLink::Worker::checkFinished()
{
    if (!finishing)
        return;
    if (!stopped) {
        const bool sent = events.waiting() == 0 && (!lastRetained || lastRetained->is_complete());
        if (state.connected && !sent)
            return;
        stopped = true;
        retry->stop();
        if (state.connected) {
            try {
                // an announced end: the broker keeps the offline status just sent, not the will
                client->disconnect(disconnectMs)->wait_for(disconnectMs);
            } catch (const mqtt::exception &) {
                // gone already: the will says what became of us
            }
        }
    }
    relay->setFinished();
}

void BrokerLink::Worker::stop()
{
    stopped = true;
    if (retry)
        retry->stop();
    {
        const std::lock_guard lock(relay->mutex);
        relay->worker = nullptr;
        relay->link = nullptr;
    }
    if (!client)
        return;
    try {
        client->disable_callbacks();
        if (client->is_connected())
            client->disconnect(0)->wait_for(disconnectMs);
    } catch (const mqtt::exception &) {
        // ending anyway
    }
    client.reset();
}

void BrokerLink::Worker::tell()
{
    relay->toLink([state = state](BrokerLink &link) {
        link.current = state;
        emit link.stateChanged(state);
    });
}

BrokerLink::BrokerLink(const BrokerSettings &settings, const QString &clientId,
                       const BrokerMessage &will, const QStringList &filters, QObject *parent)
    : QObject(parent)
    , relay(std::make_shared<Relay>())
{
    qRegisterMetaType<BrokerState>();
    qRegisterMetaType<QList<BrokerMessage>>();
    current.since = QDateTime::currentDateTime();
    worker = new Worker(settings, clientId, will, filters, relay);
    relay->worker = worker;
    relay->link = this;
    worker->moveToThread(&thread);
    thread.setObjectName(QStringLiteral("broker"));
    thread.start();
    QMetaObject::invokeMethod(
        worker, [target = worker] { target->start(); }, Qt::QueuedConnection);
}

BrokerLink::~BrokerLink()
{
    QMetaObject::invokeMethod(
        worker, [target = worker] { target->stop(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    delete worker; // its thread has ended, so nothing of it runs any more
}

void BrokerLink::post(const QString &topic, const QJsonObject &payload, Delivery delivery)
{
    QMetaObject::invokeMethod(
        worker,
        [target = worker, topic, payload, delivery] { target->post(topic, payload, delivery); },
        Qt::QueuedConnection);
}

bool BrokerLink::finish(int ms)
{
    {
        const std::lock_guard lock(relay->mutex);
        relay->finished = false;
    }
    QMetaObject::invokeMethod(
        worker, [target = worker] { target->finish(); }, Qt::QueuedConnection);
    std::unique_lock lock(relay->mutex);
    return relay->finishedChanged.wait_for(lock, std::chrono::milliseconds(ms),
                                           [this] { return relay->finished; });
}

void BrokerLink::takeReceived()
{
    QList<BrokerMessage> messages;
    {
        const std::lock_guard lock(relay->mutex);
        messages.swap(relay->inbox);
    }
    if (!messages.isEmpty())
        emit received(messages);
}

} // namespace chamber

#include "moc_brokerlink.cpp"
