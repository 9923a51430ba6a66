// Parsing the serial settings text "9600,n,8,1".
#include "link/portsettings.h"

#include <QStringList>

namespace chamber {

namespace {

constexpr qint32 maxBaud = 100'000'000; // far above any real line; keeps qint32 arithmetic safe

std::optional<qint32> readBaud(const QString &field)
{
    // digits only: toInt() alone would take "+9600" or "0x2580"
    if (field.isEmpty() || field.size() > 9)
        return std::nullopt;
    for (QChar c : field) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const qint32 baud = field.toInt();
    if (baud <= 0 || baud > maxBaud)
        return std::nullopt;
    return baud;
}

std::optional<PortSettings::Parity> readParity(const QString &field)
{
    if (field.size() != 1)
        return std::nullopt;
    switch (field.at(0).toLower().unicode()) {
    case u'n':
        return PortSettings::None;
    case u'e':
        return PortSettings::Even;
    case u'o':
        return PortSettings::Odd;
    case u'm':
        return PortSettings::Mark;
    case u's':
        return PortSettings::Space;
    default:
        return std::nullopt;
    }
}

std::optional<int> readDataBits(const QString &field)
{
    if (field.size() != 1 || field.at(0) < u'5' || field.at(0) > u'8')
        return std::nullopt;
    return field.at(0).unicode() - u'0';
}

std::optional<PortSettings::StopBits> readStopBits(const QString &field)
{
    if (field == u"1")
        return PortSettings::One;
    if (field == u"1.5")
        return PortSettings::OneAndHalf;
    if (field == u"2")
        return PortSettings::Two;
    return std::nullopt;
}

} // namespace

std::optional<PortSettings> parseSettings(const QString &settings)
{
    QStringList fields = settings.split(u',');
    if (fields.size() != 4)
        return std::nullopt;
    for (QString &field : fields)
        field = field.trimmed();

    const auto baud = readBaud(fields.at(0));
    const auto parity = readParity(fields.at(1));
    const auto dataBits = readDataBits(fields.at(2));
    const auto stopBits = readStopBits(fields.at(3));
    if (!baud || !parity || !dataBits || !stopBits)
        return std::nullopt;

    PortSettings parsed;
    parsed.baud = *baud;
    parsed.parity = *parity;
    parsed.dataBits = *dataBits;
    parsed.stopBits = *stopBits;
    return parsed;
}

} // namespace chamber
