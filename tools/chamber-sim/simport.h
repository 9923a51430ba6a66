// The simulator's end of the line: a pseudo-terminal published as <folder>/COMn, and who has it
// open.
#pragma once

#include <string>
#include <vector>

namespace chamber {

// The simulator serves on the master side. It also keeps the slave side open itself, so the
// terminal keeps its raw settings and the master never sees a hang-up while no client is
// connected; clients open the slave through the link. Opens and closes by clients are seen
// through inotify on the slave's device node. While the link is published, the simulator holds a
// lock on <folder>/.<name>.lock, which names the terminal of the link: a later simulator replaces
// a link whose lock no one holds, even when its terminal has since gone to another program.
class SimPort
{
public:
    SimPort() = default;
    SimPort(const SimPort &) = delete;
    SimPort &operator=(const SimPort &) = delete;
    ~SimPort();

    // Creates the terminal and the link. False with error set when anything fails; whatever
    // was made so far is undone by the destructor.
    bool setup(const std::string &portsDir, const std::string &name, std::string &error);

    int masterFd() const { return master; }
    int watchFd() const { return watch; }
    const std::string &folder() const { return folderPath; }
    const std::string &linkPath() const { return link; }
    const std::string &terminal() const { return slaveName; }

    enum class Event { Opened, Closed };
    // The clients' opens and closes since the last call, oldest first; never blocks.
    std::vector<Event> readEvents();
    int clients() const { return openClients; }
    // Counts connections: it grows each time the first client opens the idle port.
    unsigned generation() const { return connection; }

    // Removes the link and the folder made here; safe to call twice.
    void unpublish();

private:
    // Drops bytes written for a client that it never read.
    void discardUnread();
    // Takes the lock of the link's name. False when a live simulator holds it; recorded gets the
    // terminal that the last holder linked.
    bool lockName(std::string &recorded, std::string &error);

    int master = -1;
    int slave = -1;
    int watch = -1;
    int lock = -1;
    std::string lockPath;
    std::string slaveName;
    std::string folderPath;
    std::string link;
    bool madeFolder = false;
    bool linked = false;
    int openClients = 0;
    unsigned connection = 0;
};

} // namespace chamber
