// The command line of chamberctl: its options, read before any window exists.
#pragma once

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
};

struct CommandLine
{
    StartOptions options;
    // --report: the record to report on, as an absolute path, and where the report goes (empty:
    // beside the record). No window opens.
    QString reportRecord;
    QString reportOutput;
    // Set when the program must end without a window: 0 after --help or --version, 2 after a
    // bad option or argument. output goes to stdout, errors to stderr.
    std::optional<int> exitStatus;
    QString output;
    QString errors;
};

// Reads arguments (the program's name first). Needs no QCoreApplication, so that --help,
// --version and a bad option work where no display can be opened.
CommandLine parseCommandLine(const QStringList &arguments);

} // namespace chamber
