// The facts of a station, published: its status, readings, events and run summaries.
#include "broker/brokerpublisher.h"

#include "band/band.h"
#include "broker/brokerlink.h"
#include "broker/brokernotice.h"
#include "main/main.h"
#include "record/recordfile.h"
#include "run/runfeed.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>

namespace chamber {

BrokerPublisher::BrokerPublisher(const BrokerSettings &settings, Band *band, QObject *parent)
    : QObject(parent)
    , station(settings.station)
    , status(QStringLiteral(CHAMBERCTL_VERSION))
{
    const QJsonObject will = status.lastWill();
    brokerLink = new BrokerLink(
        settings,
        QStringLiteral("chamberctl-%1-%2").arg(station).arg(QCoreApplication::applicationPid()),
        {topic("status"), QJsonDocument(will).toJson(QJsonDocument::Compact)}, {}, this);
    if (band) {
        band->addLine(new BrokerNotice(brokerLink, settings.url,
                                       QStringLiteral("Nothing is published until this is put "
                                                      "right; the chamber and its runs go on as "
                                                      "before."),
                                       band));
    }
    publishStatus(true);
}

BrokerPublisher::~BrokerPublisher()
{
    finish();
}

QString BrokerPublisher::topic(const char *leaf) const
{
    return QStringLiteral("chamberctl/%1/%2").arg(station, QLatin1String(leaf));
}

void BrokerPublisher::publishStatus(bool online)
{
    brokerLink->post(topic("status"), status.payload(online, QDateTime::currentDateTime()),
                     BrokerLink::Latest);
}

void BrokerPublisher::take(const RunFact &fact)
{
    if (finished)
        return;
    if (fact.kind == RunFact::Reading || fact.kind == RunFact::SingleReading)
        brokerLink->post(topic("reading"), readingPayload(fact), BrokerLink::NowOrNever);
    else if (!factEvent(fact).isEmpty())
        brokerLink->post(topic("event"), eventPayload(fact, ++events), BrokerLink::InOrder);
    if (fact.kind == RunFact::RunBegun && fact.setup->resumed)
        readEarlierRows(*fact.setup->resumed);
    analysis.take(fact);
    if (status.take(fact))
        publishStatus(true);
    if (fact.kind == RunFact::RunEnded) {
        // the same figures as the summary file beside the record
        brokerLink->post(topic("summary"), analysis.summary(), BrokerLink::Latest);
        // The window may end the program at once after this fact (closed inside a pause), so
        // what waits goes out now; the run has ended and nothing else is held.
        if (fact.text == QLatin1String("window closed"))
            finish();
    }
}

void BrokerPublisher::readEarlierRows(const RunSetup::Resumed &resumed)
{
    // The summary at the run's end covers the whole run, the rows before the restart too. Read
    // once, as the run is taken up at start, not in the tick.
    QFile file(resumed.record);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QString error;
    parseRecord(file.read(resumed.wholeBytes), error,
                [this](const RunFact &row) { analysis.take(row); });
}

void BrokerPublisher::setPort(const QString &port)
{
    if (!finished && status.setPort(port))
        publishStatus(true);
}

void BrokerPublisher::finish()
{
    if (finished)
        return;
    finished = true;
    publishStatus(false);
    brokerLink->finish(finishMs);
}

BrokerPublisher *attachBroker(main &window, const BrokerSettings &settings)
{
    auto *publisher = new BrokerPublisher(settings, window.lowerBand(), &window);
    QObject::connect(window.runFeed(), &RunFeed::fact, publisher, &BrokerPublisher::take);
    QObject::connect(&window, &main::portChanged, publisher, &BrokerPublisher::setPort);
    return publisher;
}

} // namespace chamber

#include "moc_brokerpublisher.cpp"
