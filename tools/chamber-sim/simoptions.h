// Command line of chamber-sim: the options, their defaults, parsing and the help text.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace chamber {

struct SimOptions
{
    std::string name = "COM1"; // the link's name in the ports folder
    std::string portsdir;      // empty: a new temporary folder, removed at the end
    double rate = 2.0;         // degrees C per second toward the setpoint
    double ambient = 23.0;     // starting temperature and setpoint, degrees C
    double noise = 0.0;        // +- degrees C, uniform, added to each reading
    std::optional<unsigned> seed;
    int badcrcevery = 0;               // 0: every reply has a good CRC
    std::optional<double> maxsetpoint; // degrees C; a higher setpoint is refused
    int splitreplyms = -1;             // < 0: replies go out in one piece
    std::optional<double> silentafter; // seconds after start
    std::optional<double> silentfor;   // seconds; none: until the end
    std::optional<double> exitafter;   // seconds after start
    bool log = false;
};

struct ParsedOptions
{
    enum Outcome { Run, Help, Error } outcome = Run;
    SimOptions options;
    std::string error; // for Error: what was wrong, one line
};

ParsedOptions parseoptions(const std::vector<std::string> &args);

std::string helptext();

} // namespace chamber
