// The command line of chamberctl: its options, read before any window exists.
#pragma once

#include "broker/brokersettings.h"
#include "dialogs/recoverydialog.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace chamber {

// What the command line asks of the window once it has scanned the ports.
struct StartOptions
{
    QString port;    // "COMn", chosen as if clicked in the port list; empty: none
    QString profile; // a profile file to load, as an absolute path; empty: none
    QString records; // the run records folder; empty: the default
    bool autoread = false;
    QString operatorName; // who runs the tests, for the records; empty: not given
    QString testId;
    // What to do with the last run when it did not end; asked by default.
    RecoveryChoice recover = RecoveryChoice::Ask;
};

struct CommandLine
{
    StartOptions options;
    // --report: the record to report on, as an absolute path, and where the report goes (empty:
    // beside the record). No window opens.
    QString reportRecord;
    QString reportOutput;
    // The broker to publish to (--mqtt and its options, else the settings file); with --overview,
    // the broker whose stations the overview shows.
    BrokerSettings broker;
    bool overview = false; // the lab overview alone, with no chamber window
    // Why the settings file's broker settings were not taken; the window opens all the same, with
    // nothing published, and says so.
    QString brokerWarning;
    // Set when the program must end without a window: 0 after --help or --version, 2 after a
    // bad option or argument. output goes to stdout, errors to stderr.
    std::optional<int> exitStatus;
    QString output;
    QString errors;
};

// The settings file: ~/.config/chamberctl/chamberctl.conf (QSettings INI). Its keys mqtt/url,
// mqtt/user, mqtt/password-file, mqtt/ca and mqtt/station stand in for the options of the same
// names, so that the desktop entry needs no arguments; the command line wins.
QString settingsFile();

// Reads arguments (the program's name first), the settings file and the environment
// (CHAMBERCTL_MQTT_PASSWORD). Needs no QCoreApplication, so that --help, --version and a bad
// option work where no display can be opened.
CommandLine parseCommandLine(const QStringList &arguments);

} // namespace chamber
