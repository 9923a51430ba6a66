// The broker's state in a line of the band, and the one alert for a refusal.
#include "broker/brokernotice.h"

#include "broker/brokerlink.h"
#include "util/basicutilities.h"

namespace chamber {

BrokerNotice::BrokerNotice(BrokerLink *link, const QString &url, const QString &consequence,
                           QWidget *parent)
    : Notice(QStringLiteral("broker"), Quiet, parent)
    , url(url)
    , consequence(consequence)
{
    connect(link, &BrokerLink::stateChanged, this, &BrokerNotice::show);
}

void BrokerNotice::show(const BrokerState &state)
{
    if (state.connected) {
        say(QString());
        return;
    }
    say(QStringLiteral("Broker: not connected since %1 (%2)")
            .arg(state.since.time().toString(QStringLiteral("HH:mm:ss")), state.reason));
    if (state.refused && !alerted) {
        alerted = true;
        // never inside the tick: whatever runs goes on while the operator reads this
        basicutilities::alertWhenFree(
            QStringLiteral("Broker error"),
            QStringLiteral("The broker at %1 refused the connection: %2. %3")
                .arg(url, state.reason, consequence),
            0);
    }
}

} // namespace chamber

#include "moc_brokernotice.cpp"
