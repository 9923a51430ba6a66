// The simulator's end of the line: a pseudo-terminal published as <folder>/COMn, and who has it
// open.
#include "simport.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace chamber {

namespace {

std::string sysError(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

std::string readLinkText(const std::string &path)
{
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    return n < 0 ? std::string() : std::string(target, std::size_t(n));
}

// 9600 8N1 raw: no echo, no line editing, no CR/LF translation in either direction. Held on
// our own slave descriptor, these settings outlive each client's open and close.
bool makeRaw(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

SimPort::~SimPort()
{
    unpublish();
    for (int fd : {watch, slave, master}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool SimPort::setup(const std::string &portsDir, const std::string &name, std::string &error)
{
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = sysError("cannot create a pseudo-terminal");
        return false;
    }
    char pts[PATH_MAX];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, pts, sizeof pts) != 0) {
        error = sysError("cannot unlock the pseudo-terminal");
        return false;
    }
    slaveName = pts;
    slave = ::open(pts, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = sysError("cannot open " + slaveName);
        return false;
    }
    if (!makeRaw(slave)) {
        error = sysError("cannot set " + slaveName + " to 9600 8N1 raw");
        return false;
    }
    // Non-blocking, so a client that never reads cannot stall the simulator on a full line.
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = sysError("cannot make the pseudo-terminal non-blocking");
        return false;
    }

    // Watched only after our own open, so that open is not counted as a client.
    watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, pts, IN_OPEN | IN_CLOSE) < 0) {
        error = sysError("cannot watch " + slaveName);
        return false;
    }

    std::string dir = portsDir;
    if (dir.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/chamber-sim-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            error = sysError("cannot make a folder from " + pattern);
            return false;
        }
        dir = pattern;
        madeFolder = true;
    } else {
        struct stat st
        {
        };
        if (::stat(dir.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                error = dir + " is not a folder";
                return false;
            }
        } else if (errno == ENOENT && ::mkdir(dir.c_str(), 0755) == 0) {
            madeFolder = true;
        } else {
            error = sysError("cannot make the folder " + dir);
            return false;
        }
    }
    // Absolute, so a client started elsewhere finds the same folder.
    char absolute[PATH_MAX];
    if (::realpath(dir.c_str(), absolute) == nullptr) {
        folderPath = dir;
        error = sysError("cannot resolve " + dir);
        return false;
    }
    folderPath = absolute;
    link = folderPath + "/" + name;
    lockPath = folderPath + "/." + name + ".lock";
    std::string recorded;
    if (!lockName(recorded, error))
        return false;

    struct stat st
    {
    };
    if (::lstat(link.c_str(), &st) == 0) {
        // A link left by a simulator that was killed points nowhere, to the terminal we were
        // just given, or to the one its lock names, which another program may have been given
        // since; anything else is someone's own link and is left alone.
        struct stat target
        {
        };
        const std::string text = readLinkText(link);
        const bool stale = S_ISLNK(st.st_mode) && (::stat(link.c_str(), &target) != 0 ||
                                                   text == slaveName || text == recorded);
        if (!stale) {
            error = link + " already exists (another simulator?)";
            return false;
        }
        if (::unlink(link.c_str()) != 0) {
            error = sysError("cannot remove the stale link " + link);
            return false;
        }
    }
    if (::ftruncate(lock, 0) != 0 ||
        ::pwrite(lock, slaveName.data(), slaveName.size(), 0) != ssize_t(slaveName.size())) {
        error = sysError("cannot write " + lockPath);
        return false;
    }
    if (::symlink(slaveName.c_str(), link.c_str()) != 0) {
        error = sysError("cannot make the link " + link);
        return false;
    }
    linked = true;
    return true;
}

bool SimPort::lockName(std::string &recorded, std::string &error)
{
    // A simulator that ends unlinks the lock file while it holds it; one that opened the file
    // just before could then lock a name no one sees, so the lock counts only on the file that
    // is there.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = sysError("cannot make " + lockPath);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held = errno == EWOULDBLOCK;
            error = held ? link + " is published by another simulator that is running"
                         : sysError("cannot lock " + lockPath);
            ::close(fd);
            return false;
        }
        struct stat locked
        {
        };
        struct stat named
        {
        };
        if (::fstat(fd, &locked) == 0 && ::stat(lockPath.c_str(), &named) == 0 &&
            locked.st_ino == named.st_ino && locked.st_dev == named.st_dev) {
            lock = fd;
            char text[PATH_MAX] = {};
            const ssize_t n = ::pread(lock, text, sizeof text - 1, 0);
            recorded = n > 0 ? std::string(text, std::size_t(n)) : std::string();
            return true;
        }
        ::close(fd);
    }
    error = "cannot lock " + lockPath + ": it keeps being replaced";
    return false;
}

std::vector<SimPort::Event> SimPort::readEvents()
{
    std::vector<Event> events;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(watch, buffer, sizeof buffer);
        if (n <= 0)
            break; // EAGAIN: nothing more pending
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if ((event->mask & IN_Q_OVERFLOW) && openClients == 0) {
                // Opens were lost: assume someone is there rather than drop every reply.
                openClients = 1;
                ++connection;
            }
            if (event->mask & IN_OPEN) {
                if (openClients++ == 0) {
                    discardUnread(); // in case the close and this open came in one batch
                    ++connection;
                }
                events.push_back(Event::Opened);
            }
            if (event->mask & IN_CLOSE) {
                if (openClients > 0 && --openClients == 0) {
                    // The terminal keeps what a client left unread across its close, and the
                    // next client would take it for the start of a reply. The sooner it goes,
                    // the better: a client that opens and reads at once could still see it.
                    discardUnread();
                    // A client that died without clearing exclusive mode would lock out the
                    // next one, since our own descriptor keeps the terminal alive.
                    ::ioctl(slave, TIOCNXCL);
                }
                events.push_back(Event::Closed);
            }
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    return events;
}

void SimPort::discardUnread()
{
    ::tcflush(slave, TCIFLUSH);
}

void SimPort::unpublish()
{
    if (linked) {
        // Only our own link: someone may have replaced it meanwhile.
        if (readLinkText(link) == slaveName)
            ::unlink(link.c_str());
        linked = false;
    }
    if (lock >= 0) {
        ::unlink(lockPath.c_str()); // still held: no one else can have taken the name
        ::close(lock);
        lock = -1;
    }
    if (madeFolder) {
        ::rmdir(folderPath.c_str()); // fails, harmlessly, if others put files there
        madeFolder = false;
    }
}

} // namespace chamber
