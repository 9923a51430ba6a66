// Command line of chamber-sim: the options, their defaults, parsing and the help text.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace chamber {

struct SimOptions
{
    std::string name = "COM1"; // the link's name in the ports folder
    std::string portsDir;      // empty: a new temporary folder, removed at the end
    double rate = 2.0;         // degrees C per second toward the setpoint
    double ambient = 23.0;     // starting temperature and setpoint, degrees C
    double noise = 0.0;        // +- degrees C, uniform, added to each reading
    std::optional<unsigned> seed;
    int badCrcEvery = 0;               // 0: every reply has a good CRC
    std::optional<double> maxSetpoint; // degrees C; a higher setpoint is refused
    int splitReplyMs = -1;             // < 0: replies go out in one piece
    std::optional<double> silentAfter; // seconds after start
    std::optional<double> silentFor;   // seconds; none: until the end
    std::optional<double> exitAfter;   // seconds after start
    bool log = false;

    // an unattended run's troubles
    double settleShort = 0.0;           // degrees C short of a setpoint the chamber stops
    double disturbBy = 0.0;             // degrees C added to each reading while disturbed; 0: never
    std::optional<double> disturbAfter; // seconds after start; none: at once
    std::optional<double> disturbFor;   // seconds; none: until the end
};

struct ParsedOptions
{
    enum Outcome { Run, Help, Error } outcome = Run;
    SimOptions options;
    std::string error; // for Error: what was wrong, one line
};

ParsedOptions parseOptions(const std::vector<std::string> &args);

std::string helpText();

} // namespace chamber
