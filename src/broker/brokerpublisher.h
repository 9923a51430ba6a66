// A reader of the facts that publishes what a station does to a message broker.
#pragma once

#include "broker/brokersettings.h"
#include "broker/payloads.h"
#include "report/runanalysis.h"

#include <QObject>

namespace chamber {

class Band;
class BrokerLink;
class main;

// Under chamberctl/<station>/: status (retained, at every change), reading (each, QoS 0), event
// (each, QoS 1, in order), summary (retained, at the end of a run). It subscribes to nothing: no
// one reaches the chamber through the broker. take() only hands messages over, so a broker that is
// down, slow or refusing changes nothing in the tick, the record or the trend.
class BrokerPublisher : public QObject
{
    Q_OBJECT
public:
    static constexpr int finishMs = 2000;

    // band: where a broker in trouble is said; none in a program without a window.
    BrokerPublisher(const BrokerSettings &settings, Band *band, QObject *parent = nullptr);
    ~BrokerPublisher() override; // finish()

    void take(const RunFact &fact);
    // The open port's name, empty when none is open.
    void setPort(const QString &port);
    // The program ends: the station's status goes offline, and what waits goes out, within
    // finishMs (only while the broker is connected).
    void finish();
    BrokerLink *link() const { return brokerLink; }

private:
    QString topic(const char *leaf) const;
    void publishStatus(bool online);
    void readEarlierRows(const RunSetup::Resumed &resumed);

    QString station;
    StationStatus status;
    RunAnalysis analysis; // the run in progress, for its summary
    BrokerLink *brokerLink = nullptr;
    qint64 events = 0; // published so far
    bool finished = false;
};

// Publishes what the window's runs and port do, for as long as the window lives.
BrokerPublisher *attachBroker(main &window, const BrokerSettings &settings);

} // namespace chamber
