// Profile files: the cycle profile as human-editable JSON, read strictly and written atomically.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

class QJsonObject;
class QJsonValue;

namespace chamber {

// What an unattended run is held to. Each is off unless set; with none set a run goes exactly as
// the window's cycle always went.
struct RunConditions
{
    std::optional<double> toleranceC;      // the band: setpoint +- this, degrees C, above 0
    bool guaranteedSoak = false;           // a dwell second counts only in the band (needs it)
    std::optional<double> approachLimitS;  // whole seconds: an approach longer than this alarms
    std::optional<double> deviationDelayS; // whole seconds out of the band in a dwell (needs it)
    std::optional<double> silenceLimitS;   // whole seconds without a reply while polling
    bool endOnAlarm = false;               // "on_alarm": "end" rather than "continue"

    bool any() const;
    bool operator==(const RunConditions &) const = default;
};

// What the profile fields of the window hold. Points are numbered 1 to 4 in the file's messages.
struct Profile
{
    std::array<double, 4> setpoints{}; // degrees C
    std::array<double, 4> dwells{};    // seconds, whole
    std::array<bool, 4> usePoints{};   // points 1 and 2 always run; point 4 only with point 3
    double cycles = 0;                 // whole, 0 to 999
    RunConditions conditions{};

    bool operator==(const Profile &) const = default;
};

inline const QString profileSuffix = QStringLiteral("profile");

// The profile in text, or nullopt with error saying what is wrong: the key and the point, or the
// line of a JSON syntax error. Every rule is checked before anything is returned, so a caller
// never sees half a profile.
std::optional<Profile> parseProfile(const QByteArray &text, QString &error);

// The "conditions" object of a profile file, with only the keys that are set, in reading order.
QJsonObject conditionsObject(const RunConditions &conditions);
// The object read with every rule of the file format; nullopt with error naming the key.
std::optional<RunConditions> parseConditions(const QJsonValue &value, QString &error);
// A tolerance as the fields write degrees, one decimal, unless it was given finer: "2.0", "0.25".
QString toleranceText(double celsius);
// The object as one line of compact JSON, as the run record keeps it, and back.
QByteArray conditionsLine(const RunConditions &conditions);
std::optional<RunConditions> parseConditionsLine(const QByteArray &line, QString &error);

// The file's text: pretty-printed, keys in reading order, setpoints with their one decimal. A
// profile without conditions is written as version 1, which older copies of the program read.
QByteArray profileText(const Profile &profile);

// parseProfile() on the file at path; error also covers a file that cannot be read.
std::optional<Profile> readProfile(const QString &path, QString &error);

// Writes through a temporary file that replaces path only once it is whole, so a failed write
// (full disk, unwritable folder) leaves an earlier file as it was. false: see error.
bool writeProfile(const QString &path, const Profile &profile, QString &error);

} // namespace chamber
