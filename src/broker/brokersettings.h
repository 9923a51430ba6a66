// Where and as whom chamberctl talks to a message broker, and the rules for those settings.
#pragma once

#include <QString>

#include <optional>

namespace chamber {

struct BrokerAddress
{
    bool tls = false;
    QString host; // a name or an address, IPv6 without brackets
    int port = 0;
};

// "mqtt://host[:port]" (1883 by default) or "mqtts://host[:port]" (8883, TLS); nullopt with error
// saying what is wrong. A user name or password inside the URL is refused: on a command line every
// user of the computer can read it.
std::optional<BrokerAddress> parseBrokerUrl(const QString &url, QString &error);

// A station names one level of the topic tree: not empty, and no '/', '+', '#' or control
// character, which would change what the topic means.
bool validStation(const QString &station);

struct BrokerSettings
{
    QString url; // as given; empty: nothing connects anywhere
    BrokerAddress address;
    QString user;     // empty: none sent
    QString password; // from the environment or a file, never from the command line
    QString caFile;   // empty: the system's trust store
    QString station;  // the topic level under chamberctl/
    // The wait before connecting again after a failure: the first, doubled each time up to the
    // last. Tests shorten them.
    int retryFirstMs = 1000;
    int retryLastMs = 30000;

    bool enabled() const { return !url.isEmpty(); }
};

} // namespace chamber
