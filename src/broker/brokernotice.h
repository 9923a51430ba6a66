// The broker's state as a quiet line of news, shown only while something is wrong.
#pragma once

#include "band/band.h"

namespace chamber {

class BrokerLink;
struct BrokerState;

// "Broker: not connected since 14:02:31 (connection refused)". A refusal that trying again will
// not mend (the user name or password, the certificate) is also said once in an alert, from the
// event loop; after that only here.
class BrokerNotice : public Notice
{
    Q_OBJECT
public:
    // url: the broker as the operator named it; consequence: what the refusal means here, a
    // sentence for the alert.
    BrokerNotice(BrokerLink *link, const QString &url, const QString &consequence,
                 QWidget *parent = nullptr);

private:
    void show(const BrokerState &state);

    QString url;
    QString consequence;
    bool alerted = false;
};

} // namespace chamber
