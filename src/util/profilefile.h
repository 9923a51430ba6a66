// Profile files: the cycle profile as human-editable JSON, read strictly and written atomically.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace chamber {

// What the profile fields of the window hold. Points are numbered 1 to 4 in the file's messages.
struct Profile
{
    std::array<double, 4> setpoints{}; // degrees C
    std::array<double, 4> dwells{};    // seconds, whole
    std::array<bool, 4> usePoints{};   // points 1 and 2 always run; point 4 only with point 3
    double cycles = 0;                 // whole, 0 to 999

    bool operator==(const Profile &) const = default;
};

inline const QString profileSuffix = QStringLiteral("profile");

// The profile in text, or nullopt with error saying what is wrong: the key and the point, or the
// line of a JSON syntax error. Every rule is checked before anything is returned, so a caller
// never sees half a profile.
std::optional<Profile> parseProfile(const QByteArray &text, QString &error);

// The file's text: pretty-printed, keys in reading order, setpoints with their one decimal.
QByteArray profileText(const Profile &profile);

// parseProfile() on the file at path; error also covers a file that cannot be read.
std::optional<Profile> readProfile(const QString &path, QString &error);

// Writes through a temporary file that replaces path only once it is whole, so a failed write
// (full disk, unwritable folder) leaves an earlier file as it was. false: see error.
bool writeProfile(const QString &path, const Profile &profile, QString &error);

} // namespace chamber
