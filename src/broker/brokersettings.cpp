// The rules for a broker's URL and a station's name.
#include "broker/brokersettings.h"

#include <QUrl>

namespace chamber {

namespace {
constexpr int mqttPort = 1883;
constexpr int mqttsPort = 8883;
constexpr int lastPort = 65535;
} // namespace

std::optional<BrokerAddress> parseBrokerUrl(const QString &url, QString &error)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() ||
        (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))) {
        error = QStringLiteral("'%1' is not a broker URL: write mqtt://host[:port] or "
                               "mqtts://host[:port]")
                    .arg(url);
        return std::nullopt;
    }
    if (!parsed.userInfo().isEmpty()) {
        error = QStringLiteral("'%1' holds a user name or password: give the user with "
                               "--mqtt-user and the password in CHAMBERCTL_MQTT_PASSWORD or "
                               "--mqtt-password-file")
                    .arg(url.section(QLatin1Char('@'), -1));
        return std::nullopt;
    }
    if (parsed.host().isEmpty() ||
        (!parsed.path().isEmpty() && parsed.path() != QLatin1String("/")) || parsed.hasQuery() ||
        parsed.hasFragment()) {
        error = QStringLiteral("'%1' is not a broker URL: write mqtt://host[:port] or "
                               "mqtts://host[:port], with a host and nothing after the port")
                    .arg(url);
        return std::nullopt;
    }
    BrokerAddress address;
    address.tls = scheme == QLatin1String("mqtts");
    address.host = parsed.host();
    address.port = parsed.port(address.tls ? mqttsPort : mqttPort);
    if (address.port < 1 || address.port > lastPort) {
        error = QStringLiteral("'%1' names no port from 1 to 65535").arg(url);
        return std::nullopt;
    }
    return address;
}

bool validStation(const QString &station)
{
    if (station.isEmpty())
        return false;
    for (const QChar c : station) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') ||
            c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace chamber
