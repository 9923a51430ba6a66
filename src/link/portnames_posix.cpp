// COM names on Linux and other POSIX systems: a folder of named links, then the tty devices.
#include "link/portnames.h"

#include <QDir>
#include <QFile>

#include <array>

#include <dirent.h>
#include <sys/stat.h>

namespace chamber {

namespace {

constexpr int lastCom = 99;

// Device families in the order they take COM numbers: on-board UARTs first, then USB adapters.
constexpr std::array<const char *, 3> families = {"ttyS", "ttyUSB", "ttyACM"};

// Each family is counted up to its first missing number; the bound only guards a strange /dev.
constexpr int maxPerFamily = 1000;

bool deviceExists(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

PortMap mapPorts(const QString &portsDir, const QString &devRoot)
{
    PortMap map;
    if (!portsDir.isEmpty()) {
        // The entry itself, not its target: a link re-pointed at a replugged adapter keeps its
        // name, and QSerialPort names its lock file after this path. Absolute, or QSerialPort
        // would look for a relative name under /dev.
        const QDir folder(portsDir);
        if (DIR *dir = ::opendir(QFile::encodeName(portsDir).constData())) {
            while (const dirent *entry = ::readdir(dir)) {
                const QString name = QFile::decodeName(entry->d_name);
                if (const int number = comNumber(name))
                    map[number] = folder.absoluteFilePath(name);
            }
            ::closedir(dir);
        }
    }

    int number = 1;
    for (const char *family : families) {
        for (int index = 0; index < maxPerFamily; ++index) {
            const QString device = devRoot + u'/' + QLatin1String(family) + QString::number(index);
            if (!deviceExists(device))
                break;
            while (number <= lastCom && !map[number].isEmpty())
                ++number;
            if (number > lastCom)
                return map;
            map[number++] = device;
        }
    }
    return map;
}

} // namespace chamber
