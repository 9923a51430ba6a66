// Profile files: parsing with one message per fault, and the atomic write.
#include "util/profilefile.h"

#include "util/numbertext.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>

#include <cmath>

namespace chamber {

namespace {

const QString formatName = QStringLiteral("chamberctl-profile");
constexpr int plainVersion = 1;      // the profile alone
constexpr int conditionsVersion = 2; // the profile with its run conditions
constexpr int pointCount = 4;
constexpr double mostCycles = 999; // the cycles field holds three characters
// Longer than any test a chamber runs (about 115 days), short of where seconds lose precision.
constexpr double longestConditionSeconds = 1e7;
// Wider than any chamber's range: a band this wide is a typing slip, not a tolerance.
constexpr double widestToleranceC = 1000;
// A profile is a few hundred bytes; refusing anything far larger keeps a wrong choice (a disk
// image, say) from stalling the window while it is read.
constexpr qint64 largestFileBytes = 1024 * 1024;

QString quoted(const QString &key)
{
    return QLatin1Char('"') + key + QLatin1Char('"');
}

QString typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("text");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    default:
        return QStringLiteral("null");
    }
}

// The first key of object that is not in allowed, then the first of allowed that is missing.
bool checkKeys(const QJsonObject &object, const QStringList &allowed, const QString &where,
               QString &error)
{
    for (const QString &key : object.keys()) {
        if (!allowed.contains(key)) {
            error = where + QStringLiteral("unknown key ") + quoted(key);
            return false;
        }
    }
    for (const QString &key : allowed) {
        if (!object.contains(key)) {
            error = where + QStringLiteral("missing key ") + quoted(key);
            return false;
        }
    }
    return true;
}

// A JSON number (never text that looks like one), finite, from 0 to most and, if whole, without
// a fraction; rule says what is required in the message.
std::optional<double> number(const QJsonValue &value, const QString &where, const QString &key,
                             bool whole, double most, const QString &rule, QString &error)
{
    if (!value.isDouble()) {
        error = where + quoted(key) + QStringLiteral(" must be a number, not ") + typeName(value);
        return std::nullopt;
    }
    const double x = value.toDouble();
    if (!std::isfinite(x) || x < 0 || x > most || (whole && std::floor(x) != x)) {
        error = where + quoted(key) + QStringLiteral(" must be ") + rule;
        return std::nullopt;
    }
    return x;
}

int lineAt(const QByteArray &text, int offset)
{
    return int(text.left(offset).count('\n')) + 1;
}

} // namespace

std::optional<Profile> parseProfile(const QByteArray &text, QString &error)
{
    QByteArray json = text;
    if (json.startsWith("\xEF\xBB\xBF")) // some editors open UTF-8 files with a byte order mark
        json.remove(0, 3);
    if (json.trimmed().isEmpty()) {
        error = QStringLiteral("the file is empty");
        return std::nullopt;
    }
    QJsonParseError syntax;
    const QJsonDocument document = QJsonDocument::fromJson(json, &syntax);
    if (syntax.error != QJsonParseError::NoError) {
        error = QStringLiteral("line %1: not valid JSON (%2)")
                    .arg(lineAt(json, syntax.offset))
                    .arg(syntax.errorString());
        return std::nullopt;
    }
    if (!document.isObject()) {
        error = QStringLiteral("the file does not hold a JSON object { … }");
        return std::nullopt;
    }
    const QJsonObject top = document.object();

    // Format and version come first: for another program's JSON they are the whole story.
    if (top.value(QStringLiteral("format")).toString() != formatName) {
        error =
            QStringLiteral("not a chamberctl profile: \"format\" must be ") + quoted(formatName);
        return std::nullopt;
    }
    const QJsonValue version = top.value(QStringLiteral("version"));
    if (!version.isDouble()) {
        error = version.isUndefined()
                    ? QStringLiteral("missing key \"version\"")
                    : QStringLiteral("\"version\" must be a number, not ") + typeName(version);
        return std::nullopt;
    }
    if (version.toDouble() != plainVersion && version.toDouble() != conditionsVersion) {
        error = QStringLiteral("version %1 is not supported; this program reads versions %2 and %3")
                    .arg(version.toDouble())
                    .arg(plainVersion)
                    .arg(conditionsVersion);
        return std::nullopt;
    }
    const QString conditionsKey = QStringLiteral("conditions");
    QJsonObject required = top;
    const bool withConditions = version.toDouble() == conditionsVersion;
    if (withConditions)
        required.remove(conditionsKey); // optional in version 2
    const QStringList topKeys{QStringLiteral("format"), QStringLiteral("version"),
                              QStringLiteral("points"), QStringLiteral("use_points"),
                              QStringLiteral("cycles")};
    if (!checkKeys(required, topKeys, QString(), error))
        return std::nullopt;

    Profile profile;
    const QJsonValue points = top.value(QStringLiteral("points"));
    if (!points.isArray() || points.toArray().size() != pointCount) {
        error = QStringLiteral("\"points\" must be a list of 4 points, not ") +
                (points.isArray() ? QStringLiteral("%1").arg(points.toArray().size())
                                  : typeName(points));
        return std::nullopt;
    }
    const QStringList pointKeys{QStringLiteral("setpoint_c"), QStringLiteral("dwell_s")};
    for (int i = 0; i < pointCount; ++i) {
        const QString where = QStringLiteral("point %1: ").arg(i + 1);
        const QJsonValue point = points.toArray().at(i);
        if (!point.isObject()) {
            error = where +
                    QStringLiteral("must be an object {\"setpoint_c\": …, \"dwell_s\": …}"
                                   ", not ") +
                    typeName(point);
            return std::nullopt;
        }
        const QJsonObject object = point.toObject();
        if (!checkKeys(object, pointKeys, where, error))
            return std::nullopt;
        const auto setpoint = number(object.value(pointKeys[0]), where, pointKeys[0], false, qInf(),
                                     QStringLiteral("0 or more (degrees C)"), error);
        if (!setpoint)
            return std::nullopt;
        const auto dwell = number(object.value(pointKeys[1]), where, pointKeys[1], true, qInf(),
                                  QStringLiteral("a whole number of seconds, 0 or more"), error);
        if (!dwell)
            return std::nullopt;
        profile.setpoints[i] = *setpoint;
        profile.dwells[i] = *dwell;
    }

    const QJsonValue use = top.value(QStringLiteral("use_points"));
    const QJsonArray useList = use.toArray();
    bool allBooleans = use.isArray() && useList.size() == pointCount;
    for (int i = 0; allBooleans && i < pointCount; ++i) {
        allBooleans = useList.at(i).isBool();
        profile.usePoints[i] = useList.at(i).toBool();
    }
    if (!allBooleans) {
        error = QStringLiteral("\"use_points\" must be a list of 4 values true or false");
        return std::nullopt;
    }
    if (!profile.usePoints[0] || !profile.usePoints[1]) {
        error = QStringLiteral("\"use_points\": points 1 and 2 always run, so the first two must "
                               "be true");
        return std::nullopt;
    }
    if (profile.usePoints[3] && !profile.usePoints[2]) {
        error = QStringLiteral("\"use_points\": point 4 runs only together with point 3");
        return std::nullopt;
    }

    const auto cycles =
        number(top.value(QStringLiteral("cycles")), QString(), QStringLiteral("cycles"), true,
               mostCycles, QStringLiteral("a whole number from 0 to 999"), error);
    if (!cycles)
        return std::nullopt;
    profile.cycles = *cycles;

    if (withConditions && top.contains(conditionsKey)) {
        const auto conditions = parseConditions(top.value(conditionsKey), error);
        if (!conditions)
            return std::nullopt;
        profile.conditions = *conditions;
    }
    return profile;
}

QString toleranceText(double celsius)
{
    const QString tenths = writenumber(celsius, 1);
    return readnumber(tenths) == celsius
               ? tenths
               : QString::number(celsius, 'g', QLocale::FloatingPointShortest);
}

bool RunConditions::any() const
{
    return *this != RunConditions{};
}

QJsonObject conditionsObject(const RunConditions &conditions)
{
    QJsonObject object;
    if (conditions.toleranceC)
        object.insert(QStringLiteral("tolerance_c"), *conditions.toleranceC);
    if (conditions.guaranteedSoak)
        object.insert(QStringLiteral("guaranteed_soak"), true);
    if (conditions.approachLimitS)
        object.insert(QStringLiteral("approach_limit_s"), *conditions.approachLimitS);
    if (conditions.deviationDelayS)
        object.insert(QStringLiteral("deviation_delay_s"), *conditions.deviationDelayS);
    if (conditions.silenceLimitS)
        object.insert(QStringLiteral("silence_limit_s"), *conditions.silenceLimitS);
    if (conditions.endOnAlarm)
        object.insert(QStringLiteral("on_alarm"), QStringLiteral("end"));
    return object;
}

std::optional<RunConditions> parseConditions(const QJsonValue &value, QString &error)
{
    const QString where = QStringLiteral("\"conditions\": ");
    if (!value.isObject()) {
        error = where + QStringLiteral("must be an object { … }, not ") + typeName(value);
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    const QStringList keys{QStringLiteral("tolerance_c"),      QStringLiteral("guaranteed_soak"),
                           QStringLiteral("approach_limit_s"), QStringLiteral("deviation_delay_s"),
                           QStringLiteral("silence_limit_s"),  QStringLiteral("on_alarm")};
    for (const QString &key : object.keys()) {
        if (!keys.contains(key)) {
            error = where + QStringLiteral("unknown key ") + quoted(key);
            return std::nullopt;
        }
    }
    RunConditions conditions;
    const auto seconds = [&](const QString &key, double least,
                             std::optional<double> &into) -> bool {
        if (!object.contains(key))
            return true;
        const auto x = number(object.value(key), where, key, true, longestConditionSeconds,
                              QStringLiteral("a whole number of seconds from %1 to %2")
                                  .arg(least)
                                  .arg(longestConditionSeconds, 0, 'f', 0),
                              error);
        if (!x)
            return false;
        if (*x < least) {
            error = where + quoted(key) +
                    QStringLiteral(" must be a whole number of seconds from %1").arg(least);
            return false;
        }
        into = x;
        return true;
    };
    if (object.contains(keys[0])) {
        const auto tolerance =
            number(object.value(keys[0]), where, keys[0], false, widestToleranceC,
                   QStringLiteral("above 0 and at most 1000 (degrees C)"), error);
        if (!tolerance)
            return std::nullopt;
        if (*tolerance <= 0) {
            error = where + quoted(keys[0]) + QStringLiteral(" must be above 0 (degrees C)");
            return std::nullopt;
        }
        conditions.toleranceC = tolerance;
    }
    if (object.contains(keys[1])) {
        if (!object.value(keys[1]).isBool()) {
            error = where + quoted(keys[1]) + QStringLiteral(" must be true or false, not ") +
                    typeName(object.value(keys[1]));
            return std::nullopt;
        }
        conditions.guaranteedSoak = object.value(keys[1]).toBool();
    }
    // a limit of 0 would alarm at the first tick of every approach or every silence
    if (!seconds(keys[2], 1, conditions.approachLimitS) ||
        !seconds(keys[3], 0, conditions.deviationDelayS) ||
        !seconds(keys[4], 1, conditions.silenceLimitS))
        return std::nullopt;
    if (object.contains(keys[5])) {
        const QJsonValue onAlarm = object.value(keys[5]);
        if (onAlarm != QJsonValue(QStringLiteral("continue")) &&
            onAlarm != QJsonValue(QStringLiteral("end"))) {
            error = where + quoted(keys[5]) + QStringLiteral(" must be \"continue\" or \"end\"");
            return std::nullopt;
        }
        conditions.endOnAlarm = onAlarm.toString() == QLatin1String("end");
    }
    // both are measured against the band, which only the tolerance sets
    for (const auto &[set, key] : {std::pair{conditions.guaranteedSoak, keys[1]},
                                   std::pair{bool(conditions.deviationDelayS), keys[3]}}) {
        if (set && !conditions.toleranceC) {
            error = where + quoted(key) + QStringLiteral(" needs \"tolerance_c\"");
            return std::nullopt;
        }
    }
    return conditions;
}

QByteArray conditionsLine(const RunConditions &conditions)
{
    return QJsonDocument(conditionsObject(conditions)).toJson(QJsonDocument::Compact);
}

std::optional<RunConditions> parseConditionsLine(const QByteArray &line, QString &error)
{
    QJsonParseError syntax;
    const QJsonDocument document = QJsonDocument::fromJson(line, &syntax);
    if (syntax.error != QJsonParseError::NoError) {
        error = QStringLiteral("\"conditions\": not valid JSON (%1)").arg(syntax.errorString());
        return std::nullopt;
    }
    return parseConditions(document.object(), error);
}

QByteArray profileText(const Profile &profile)
{
    // Written by hand rather than through QJsonDocument, which would sort the keys and drop the
    // setpoints' ".0"; parseProfile() reads it back like any other file.
    const auto flag = [](bool on) { return on ? QStringLiteral("true") : QStringLiteral("false"); };
    const bool withConditions = profile.conditions.any();
    QString text = QStringLiteral("{\n    \"format\": \"%1\",\n    \"version\": %2,\n"
                                  "    \"points\": [\n")
                       .arg(formatName)
                       .arg(withConditions ? conditionsVersion : plainVersion);
    for (int i = 0; i < pointCount; ++i) {
        text += QStringLiteral("        {\"setpoint_c\": %1, \"dwell_s\": %2}%3\n")
                    .arg(writenumber(profile.setpoints[i], 1), writenumber(profile.dwells[i], 0),
                         i + 1 < pointCount ? QStringLiteral(",") : QString());
    }
    text +=
        QStringLiteral("    ],\n    \"use_points\": [%1, %2, %3, %4],\n    \"cycles\": %5")
            .arg(flag(profile.usePoints[0]), flag(profile.usePoints[1]), flag(profile.usePoints[2]),
                 flag(profile.usePoints[3]), writenumber(profile.cycles, 0));
    if (withConditions) {
        // one key a line, in the order the object keeps them
        QStringList lines;
        const QJsonObject object = conditionsObject(profile.conditions);
        const QStringList order{
            QStringLiteral("tolerance_c"),      QStringLiteral("guaranteed_soak"),
            QStringLiteral("approach_limit_s"), QStringLiteral("deviation_delay_s"),
            QStringLiteral("silence_limit_s"),  QStringLiteral("on_alarm")};
        for (const QString &key : order) {
            if (!object.contains(key))
                continue;
            const QJsonValue value = object.value(key);
            QString shown;
            if (key == order[0])
                shown = toleranceText(value.toDouble());
            else if (value.isDouble())
                shown = writenumber(value.toDouble(), 0);
            else if (value.isBool())
                shown = flag(value.toBool());
            else
                shown = quoted(value.toString());
            lines << QStringLiteral("        %1: %2").arg(quoted(key), shown);
        }
        text += QStringLiteral(",\n    \"conditions\": {\n") + lines.join(QStringLiteral(",\n")) +
                QStringLiteral("\n    }");
    }
    text += QStringLiteral("\n}\n");
    return text.toUtf8();
}

std::optional<Profile> readProfile(const QString &path, QString &error)
{
    // A pipe or a device would block the window until something writes to it.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        error = QStringLiteral("it is not a file");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("the file cannot be read: ") + file.errorString();
        return std::nullopt;
    }
    // Read no further than one byte past the limit: a file's reported size can be wrong or 0.
    const QByteArray text = file.read(largestFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("the file cannot be read: ") + file.errorString();
        return std::nullopt;
    }
    if (text.size() > largestFileBytes) {
        error = QStringLiteral("the file is far too large for a profile");
        return std::nullopt;
    }
    return parseProfile(text, error);
}

bool writeProfile(const QString &path, const Profile &profile, QString &error)
{
    QSaveFile file(path);
    const QByteArray text = profileText(profile);
    // Unbuffered, so a short write (disk full, file size limit) shows in write()'s count: with
    // Qt 6.4's buffer, an error in the flush at commit() is lost and commit() then puts a
    // truncated or empty file in place of the old one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(text) != text.size() || !file.commit()) {
        error = QStringLiteral("the file cannot be written: ") + file.errorString();
        return false; // QSaveFile drops its temporary file; the old one was never touched
    }
    return true;
}

} // namespace chamber
