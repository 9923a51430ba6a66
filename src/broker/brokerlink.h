// The connection to a message broker (Eclipse Paho MQTT), run on a thread of its own so that a
// broker that is down or slow never holds the caller.
#pragma once

#include "broker/brokersettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <memory>

namespace chamber {

struct BrokerState
{
    bool connected = false;
    QDateTime since; // when the connection came up, or when it was last up (the start, if never)
    QString reason;  // why it is down: "connection refused", "user name or password refused", ...
    // Refused for a reason that trying again will not mend: the user name, the password, the
    // certificate. Tried again all the same, since whoever looks after the broker may mend it.
    bool refused = false;
};

struct BrokerMessage
{
    QString topic;
    QByteArray payload;
};

// Every Paho call is made on the link's thread, never the caller's: Paho holds one lock while it
// connects (a name lookup included), so even its asynchronous publish can wait for a slow or absent
// broker. What the caller hands over is queued and the call returns at once. A failed or lost
// connection is tried again after a growing delay; each new connection sends the latest retained
// messages again and then the events still waiting, in order.
class BrokerLink : public QObject
{
    Q_OBJECT
public:
    enum Delivery {
        Latest,     // retained, QoS 1: the latest of its topic goes out on every connection
        InOrder,    // QoS 1, through the bounded event queue: in order, kept until confirmed
        NowOrNever, // QoS 0: dropped while not connected
    };

    // will: retained, published by the broker when the connection ends unannounced. filters: the
    // topics to subscribe to, read-only; none for a publisher, which subscribes to nothing.
    BrokerLink(const BrokerSettings &settings, const QString &clientId, const BrokerMessage &will,
               const QStringList &filters = {}, QObject *parent = nullptr);
    ~BrokerLink() override; // what has not gone out by then is dropped

    void post(const QString &topic, const QJsonObject &payload, Delivery delivery);
    // Sends what waits, then disconnects; waits for that at most ms, and not at all while no
    // connection is up. For the end of the program. True when all went out.
    bool finish(int ms);
    BrokerState state() const { return current; }

signals:
    void stateChanged(const chamber::BrokerState &state);
    // Messages of the subscribed topics, in the order they came.
    void received(const QList<chamber::BrokerMessage> &messages);

private:
    class Worker;
    struct Relay;

    void takeReceived();

    QThread thread;
    Worker *worker = nullptr;
    std::shared_ptr<Relay> relay;
    BrokerState current;
};

} // namespace chamber

Q_DECLARE_METATYPE(chamber::BrokerState)
Q_DECLARE_METATYPE(chamber::BrokerMessage)
