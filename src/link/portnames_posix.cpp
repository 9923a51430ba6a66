// COM names on Linux and other POSIX systems: a folder of named links, then the tty devices.
#include "link/portnames.h"

#include <QDir>
#include <QFile>

#include <array>
#include <bitset>

#include <dirent.h>
#include <sys/stat.h>

namespace chamber {

namespace {

constexpr int lastcom = 99;

// Device families in the order they take COM numbers: on-board UARTs first, then USB adapters.
constexpr std::array<const char *, 3> families = {"ttyS", "ttyUSB", "ttyACM"};

// Each family is counted up to its first missing number; the bound only guards a strange /dev.
constexpr int maxperfamily = 1000;

bool entryexists(const QString &path)
{
    // lstat: a link in the ports folder names its number even when its target is gone
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool deviceexists(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0;
}

// The COM numbers that the folder's entries give.
std::bitset<lastcom + 1> numbersin(const QString &portsdir)
{
    std::bitset<lastcom + 1> taken;
    DIR *dir = ::opendir(QFile::encodeName(portsdir).constData());
    if (!dir)
        return taken;
    while (const dirent *entry = ::readdir(dir)) {
        if (const int number = comnumber(QFile::decodeName(entry->d_name)))
            taken.set(number);
    }
    ::closedir(dir);
    return taken;
}

} // namespace

QString devicefor(const QString &comname, const QString &portsdir, const QString &devroot)
{
    const int wanted = comnumber(comname);
    if (wanted == 0)
        return {};

    std::bitset<lastcom + 1> taken;
    if (!portsdir.isEmpty()) {
        // the entry itself, not its target: QSerialPort names its lock file after this path
        // absolute, or QSerialPort would look for a relative name under /dev
        const QString entry = QDir(portsdir).absoluteFilePath(comname);
        if (entryexists(entry))
            return entry;
        taken = numbersin(portsdir);
    }

    // Looked up afresh on every call: about thirty stat() calls on a machine with a full set of
    // ttyS nodes, cheap enough for the start-up scan of 99 names and never out of date.
    int number = 1;
    for (const char *family : families) {
        for (int index = 0; index < maxperfamily; ++index) {
            const QString device = devroot + u'/' + QLatin1String(family) + QString::number(index);
            if (!deviceexists(device))
                break;
            while (number <= lastcom && taken.test(number))
                ++number;
            if (number > wanted || number > lastcom)
                return {};
            if (number == wanted)
                return device;
            ++number;
        }
    }
    return {};
}

QString devicefor(const QString &comname)
{
    return devicefor(comname, qEnvironmentVariable("CHAMBERCTL_PORTS"), QStringLiteral("/dev"));
}

} // namespace chamber
