// chamber-sim: the chamber's temperature controller on a pseudo-terminal, for tests and demos.
#include "simoptions.h"
#include "simport.h"
#include "simulator.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace chamber {

namespace {

int stopWriteFd = -1;

extern "C" void onStopSignal(int)
{
    // Only async-signal-safe work here: the main loop sees the byte and ends cleanly.
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopWriteFd, &byte, 1);
}

bool catchStopSignals(int &stopReadFd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    stopReadFd = fds[0];
    stopWriteFd = fds[1];
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0)
            return false;
    }
    // A test that stops reading our output must not kill us before we clean up.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

int simulate(const std::vector<std::string> &args)
{
    const ParsedOptions parsed = parseOptions(args);
    if (parsed.outcome == ParsedOptions::Help) {
        std::fputs(helpText().c_str(), stdout);
        return 0;
    }
    if (parsed.outcome == ParsedOptions::Error) {
        std::fprintf(stderr, "chamber-sim: %s\nTry 'chamber-sim --help'.\n", parsed.error.c_str());
        return 2;
    }

    int stopReadFd = -1;
    if (!catchStopSignals(stopReadFd)) {
        std::perror("chamber-sim: cannot catch signals");
        return 1;
    }
    SimPort port;
    std::string error;
    if (!port.setup(parsed.options.portsDir, parsed.options.name, error)) {
        std::fprintf(stderr, "chamber-sim: %s\n", error.c_str());
        return 1;
    }
    Simulator simulator(parsed.options, port, stopReadFd);
    if (!simulator.run(error)) {
        std::fprintf(stderr, "chamber-sim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

} // namespace

} // namespace chamber

int main(int argc, char **argv)
{
    return chamber::simulate(std::vector<std::string>(argv + 1, argv + argc));
}
