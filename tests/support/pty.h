// A pseudo-terminal pair that plays a serial line's far end in tests, reachable as a COM name.
#pragma once

#ifndef _WIN32

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pty.h> // openpty(): link the test with util
#include <termios.h>
#include <unistd.h>

namespace chamber {

// Opens a pty pair and a temporary folder with the link COMn to the slave side, for
// CHAMBERCTL_PORTS. The test holds the master: what it writes arrives at the port, and what the
// port sends can be read from it. The slave stays open here too, so the line lives on while the
// port under test is closed; closeMaster() makes the far end vanish.
class Pty
{
public:
    explicit Pty(int number = 5)
        : comName(QStringLiteral("COM%1").arg(number))
    {
        char path[256] = {};
        termios raw{}; // no echo, no translation, from the start
        ::cfmakeraw(&raw);
        ::cfsetspeed(&raw, B9600);
        if (::openpty(&masterFd, &slaveFd, path, &raw, nullptr) != 0)
            return; // both stay -1
        ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
        slavePath = QFile::decodeName(path);
        linked = folder.isValid() && publish(folder.filePath(comName));
    }
    ~Pty()
    {
        closeMaster();
        ::close(slaveFd);
    }

    bool isValid() const { return masterFd >= 0 && linked; }
    QString portsDir() const { return folder.path(); } // for CHAMBERCTL_PORTS
    QString name() const { return comName; }           // "COM5"

    // Makes the port reachable under linkPath too, as a link re-pointed at a replugged adapter.
    bool publish(const QString &linkPath) const { return QFile::link(slavePath, linkPath); }

    // Puts bytes on the line; a few hundred always fit the pty's buffer at once.
    bool write(const QByteArray &bytes)
    {
        return ::write(masterFd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // Reads until count bytes have come or timeoutMs has passed. Pumps events while it waits,
    // since QSerialPort writes from the event loop.
    QByteArray readCount(qsizetype count, int timeoutMs)
    {
        QByteArray bytes;
        char chunk[4096];
        const QDeadlineTimer deadline(timeoutMs);
        while (masterFd >= 0) {
            QCoreApplication::processEvents();
            for (ssize_t n; (n = ::read(masterFd, chunk, sizeof chunk)) > 0;)
                bytes.append(chunk, n);
            if (bytes.size() >= count || deadline.hasExpired())
                break;
            pollfd p{masterFd, POLLIN, 0};
            ::poll(&p, 1, int(qMin<qint64>(10, deadline.remainingTime())));
        }
        return bytes;
    }

    // The far end vanishes, as when the other program quits or the cable's adapter goes.
    void closeMaster() { ::close(std::exchange(masterFd, -1)); }

private:
    int masterFd = -1;
    int slaveFd = -1;
    bool linked = false;
    QString comName;
    QString slavePath;
    QTemporaryDir folder;
};

} // namespace chamber

#endif // _WIN32
