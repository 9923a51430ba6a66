// Parsing of chamber-sim's command line, strict so that a typo in a test fails loudly.
#include "simoptions.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace chamber {

namespace {

// Whole text must be a finite decimal number; from_chars ignores the locale, unlike strtod.
std::optional<double> readDouble(const std::string &text)
{
    const char *first = text.data();
    const char *last = text.data() + text.size();
    if (first != last && *first == '+')
        ++first;
    double value = 0;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (first == last || ec != std::errc() || end != last || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long> readInteger(const std::string &text)
{
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool validPortName(const std::string &name)
{
    // The program looks for COM1 to COM99 only.
    if (name.size() < 4 || name.size() > 5 || name.compare(0, 3, "COM") != 0)
        return false;
    const std::string digits = name.substr(3);
    if (digits[0] == '0')
        return false;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

ParsedOptions parseOptions(const std::vector<std::string> &args)
{
    ParsedOptions parsed;
    SimOptions &o = parsed.options;
    auto fail = [&parsed](std::string message) {
        parsed.outcome = ParsedOptions::Error;
        parsed.error = std::move(message);
        return parsed;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::optional<std::string> inlineValue;
        if (option.rfind("--", 0) == 0) {
            const auto equals = option.find('=');
            if (equals != std::string::npos) {
                inlineValue = option.substr(equals + 1);
                option.resize(equals);
            }
        }

        if (option == "-h" || option == "--help") {
            parsed.outcome = ParsedOptions::Help;
            return parsed;
        }
        if (option == "-v" || option == "--log") {
            if (inlineValue)
                return fail("option " + option + " takes no value");
            o.log = true;
            continue;
        }

        static const char *const valued[] = {
            "--name",         "--ports-dir",    "--rate",          "--ambient",
            "--noise",        "--seed",         "--bad-crc-every", "--max-setpoint",
            "--split-reply",  "--silent-after", "--silent-for",    "--exit-after",
            "--settle-short", "--disturb-by",   "--disturb-after", "--disturb-for"};
        bool known = false;
        for (const char *v : valued)
            known = known || option == v;
        if (!known) {
            if (option.empty() || option[0] != '-')
                return fail("unexpected argument '" + option + "'");
            return fail("unknown option '" + option + "'");
        }

        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else {
            if (i + 1 >= args.size())
                return fail("option " + option + " needs a value");
            value = args[++i];
        }

        auto number = [&](double low, double high) -> std::optional<double> {
            const auto d = readDouble(value);
            if (!d || *d < low || *d > high)
                return std::nullopt;
            return d;
        };
        auto integer = [&](long low, long high) -> std::optional<long> {
            const auto n = readInteger(value);
            if (!n || *n < low || *n > high)
                return std::nullopt;
            return n;
        };
        const std::string bad = "bad value '" + value + "' for " + option + ": ";
        constexpr double maxSeconds = 1e6;

        if (option == "--name") {
            if (!validPortName(value))
                return fail(bad + "expected COM1 to COM99");
            o.name = value;
        } else if (option == "--ports-dir") {
            if (value.empty())
                return fail(bad + "expected a folder");
            o.portsDir = value;
        } else if (option == "--rate") {
            const auto d = number(0, 1e6);
            if (!d)
                return fail(bad + "expected degrees per second, 0 or more");
            o.rate = *d;
        } else if (option == "--ambient") {
            // The register holds tenths in 16 bits.
            const auto d = number(-3276.8, 3276.7);
            if (!d)
                return fail(bad + "expected degrees C from -3276.8 to 3276.7");
            o.ambient = *d;
        } else if (option == "--noise") {
            const auto d = number(0, 1000);
            if (!d)
                return fail(bad + "expected degrees from 0 to 1000");
            o.noise = *d;
        } else if (option == "--seed") {
            const auto n = integer(0, std::numeric_limits<unsigned>::max());
            if (!n)
                return fail(bad + "expected a whole number, 0 or more");
            o.seed = unsigned(*n);
        } else if (option == "--bad-crc-every") {
            const auto n = integer(1, 1000000);
            if (!n)
                return fail(bad + "expected a whole number, 1 or more");
            o.badCrcEvery = int(*n);
        } else if (option == "--max-setpoint") {
            const auto d = number(-1e6, 1e6);
            if (!d)
                return fail(bad + "expected degrees C");
            o.maxSetpoint = *d;
        } else if (option == "--split-reply") {
            const auto n = integer(0, 60000);
            if (!n)
                return fail(bad + "expected milliseconds from 0 to 60000");
            o.splitReplyMs = int(*n);
        } else if (option == "--silent-after" || option == "--disturb-after") {
            const auto d = number(0, maxSeconds);
            if (!d)
                return fail(bad + "expected seconds, 0 or more");
            (option == "--silent-after" ? o.silentAfter : o.disturbAfter) = *d;
        } else if (option == "--silent-for" || option == "--disturb-for" ||
                   option == "--exit-after") {
            const auto d = number(0, maxSeconds);
            if (!d || *d <= 0)
                return fail(bad + "expected seconds, more than 0");
            (option == "--silent-for"    ? o.silentFor
             : option == "--disturb-for" ? o.disturbFor
                                         : o.exitAfter) = *d;
        } else if (option == "--settle-short") {
            const auto d = number(0, 1000);
            if (!d)
                return fail(bad + "expected degrees from 0 to 1000");
            o.settleShort = *d;
        } else if (option == "--disturb-by") {
            const auto d = number(-1000, 1000);
            if (!d || *d == 0)
                return fail(bad + "expected degrees from -1000 to 1000, not 0");
            o.disturbBy = *d;
        }
    }
    // a disturbance's time without its size would silently do nothing
    if (o.disturbBy == 0 && (o.disturbAfter || o.disturbFor))
        return fail("--disturb-after and --disturb-for need --disturb-by");
    return parsed;
}

std::string helpText()
{
    return R"(Usage: chamber-sim [options]

Plays the chamber's temperature controller: a Modbus RTU slave, address 1,
9600 8N1, on a pseudo-terminal. The terminal is published as a symbolic link
<ports-dir>/<name>; once it is ready, one line goes to standard output:
    CHAMBERCTL_PORTS=<ports-dir>
Run chamberctl with that variable set and it finds the port under <name>.
The link (and the folder, when made here) is removed when the simulator ends.
While it runs it holds a lock file <ports-dir>/.<name>.lock: a link left behind
by a simulator that was killed is replaced, one of a running simulator is not.

Registers (holding, function 03 reads, 06 and 16 write):
    100  measured temperature, tenths of a degree C, 16-bit two's complement
    300  setpoint, tenths of a degree C (starts at the ambient temperature)
    0 to 399 can be read; all others read as 0. Writes to any register other
    than 300 are refused with exception 02 (illegal data address); functions
    22 and 23 with exception 01; coils and input registers do not exist
    (exception 02). Requests to other slave addresses are ignored; a
    broadcast (address 0) write of the setpoint is applied without a reply.

Thermal model: the temperature moves toward the setpoint at --rate degrees C
per second on a monotonic clock and is rounded to tenths when read. With
--settle-short it stops that far short of a setpoint it heats or cools
toward; the setpoint register still holds the setpoint written.

Options:
  --name COMn           name of the link, COM1 to COM99 (default COM1)
  --ports-dir DIR       folder for the link (default: a new temporary folder);
                        made if missing, and then removed at the end
  --rate R              degrees C per second toward the setpoint (default 2.0)
  --ambient T           starting temperature and setpoint (default 23.0)
  --noise N             add uniform noise of +-N degrees to each reading
                        (default 0)
  --seed S              seed of the noise (default: from the clock)
  --bad-crc-every N     corrupt the CRC of every Nth reply (both CRC bytes
                        inverted)
  --max-setpoint X      refuse a setpoint above X degrees C with exception 03
                        (illegal data value): 01 86 03 crc
  --split-reply MS      send each reply in two pieces, the first 3 bytes, then
                        the rest MS milliseconds later
  --silent-after S      stop answering S seconds after start: requests are
                        read and dropped, writes are not applied
  --silent-for S        stay silent for S seconds (default: until the end);
                        alone, silence starts at once
  --settle-short X      stop X degrees C short of each setpoint, below one it
                        heats toward and above one it cools toward, as a
                        chamber that cannot quite get there (default 0)
  --disturb-by X        add X degrees C (negative: take away) to every reading
                        while disturbed, as an open door would; the chamber
                        itself is not moved
  --disturb-after S     the disturbance begins S seconds after start
                        (default 0; needs --disturb-by)
  --disturb-for S       it lasts S seconds (default: until the end; needs
                        --disturb-by)
  --exit-after S        end S seconds after start, as after SIGTERM
  -v, --log             log every request and reply on standard error
  -h, --help            show this text and exit

A reply whose reader closes the port before it is sent is dropped, and bytes
a client left unread are discarded when it closes the port. Garbage on the
line is read and dropped until the line is quiet.

Log lines (standard error, one per event, each flushed; values signed):
    ready <link> -> <terminal>    the port is published
    open                          a client opened the port
    close                         a client closed it
    rx <hex bytes>                a complete request frame, CRC included
    read <reg> = <v> [<v>...]     values returned by a read of holding
                                  registers, first register given
    write <reg> = <v>             one register value in a write request
    setpoint <v>                  a setpoint applied (tenths), in order
    refused <code> <why>          the request got exception reply <code>
    tx <hex bytes>                a reply as sent (after any fault)
    silent                        a request dropped while silent
    dropped <why>                 a reply, or part of one, not sent
    garbage <why>                 bytes that made no valid frame
    ignored <why>                 a valid frame not for this slave
    end                           the simulator is ending

Exit status: 0 after SIGINT, SIGTERM, SIGHUP or --exit-after; 1 when the
port cannot be set up; 2 for a bad command line.
)";
}

} // namespace chamber
