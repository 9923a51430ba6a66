// A mosquitto broker of a test's own on a free loopback port: its configuration, users with
// passwords, an access list that lets each station publish only under its own topics, and a TLS
// listener whose certificates the test makes; and a subscriber (mosquitto_sub) that reads it.
#pragma once

#include "support/files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

#include <unistd.h>

#include <pwd.h>

namespace chamber {

constexpr int mosquittoStartMs = 10000;

// A free port on the loopback address: one the system has just handed out and taken back.
inline int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Users: each station user may publish only under chamberctl/<its name>/#, "watcher" may read
// everything under chamberctl/. Messages of persistent sessions outlive a restart.
class Mosquitto
{
public:
    static inline const QString watcher = QStringLiteral("watcher");

    explicit Mosquitto(const QStringList &stations, bool tls = false)
        : stations(stations)
        , tls(tls)
    {
        process.setProcessChannelMode(QProcess::MergedChannels); // it logs on stderr
        QObject::connect(&process, &QProcess::readyRead, &process,
                         [this] { err += process.readAll(); });
    }
    ~Mosquitto() { stop(); }

    static QString password(const QString &user) { return QStringLiteral("pw-") + user; }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port); }
    QString tlsUrl(const QString &host) const
    {
        return QStringLiteral("mqtts://%1:%2").arg(host).arg(tlsPort);
    }
    QString file(const QString &name) const { return folder.filePath(name); }
    QString log() { return QString::fromLocal8Bit(err += process.readAll()); }

    // Writes its files on the first start; true once it is listening, else the reason in log().
    bool start()
    {
        if (port == 0 && !prepare())
            return false;
        err.clear();
        // Debian puts the broker in /usr/sbin, which a user's PATH may not hold
        const QString program =
            QStandardPaths::findExecutable(QStringLiteral("mosquitto")).isEmpty()
                ? QStringLiteral("/usr/sbin/mosquitto")
                : QStringLiteral("mosquitto");
        process.start(program, {QStringLiteral("-c"), file("mosquitto.conf")});
        const QDeadlineTimer deadline(mosquittoStartMs);
        while (!err.contains(" running") && process.state() != QProcess::NotRunning &&
               !deadline.hasExpired())
            process.waitForReadyRead(int(deadline.remainingTime()));
        err += process.readAll();
        return err.contains(" running");
    }
    // SIGTERM: mosquitto saves its persistent sessions and ends.
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(mosquittoStartMs)) {
            process.kill();
            process.waitForFinished(mosquittoStartMs);
        }
    }

    QTemporaryDir folder;
    QProcess process;
    QByteArray err;
    int port = 0;
    int tlsPort = 0;

private:
    bool prepare()
    {
        port = freePort();
        tlsPort = tls ? freePort() : 0;
        QString acl = QStringLiteral("user %1\ntopic read chamberctl/#\n").arg(watcher);
        for (const QString &station : stations)
            acl += QStringLiteral("user %1\ntopic write chamberctl/%1/#\n").arg(station);
        writeFile(file("acl"), acl.toUtf8());
        writeFile(file("passwd"), {});
        const QStringList users = QStringList(stations) << watcher;
        for (const QString &user : users) {
            if (!run("mosquitto_passwd", {"-b", "passwd", user, password(user)}))
                return false;
        }
        // As root, mosquitto would become the user "mosquitto", who cannot read our folder.
        const passwd *me = getpwuid(geteuid());
        QString conf = QStringLiteral("per_listener_settings false\n"
                                      "allow_anonymous false\n"
                                      "password_file %1\nacl_file %2\n"
                                      "persistence true\npersistence_location %3/\n"
                                      "user %4\n"
                                      "listener %5 127.0.0.1\n")
                           .arg(file("passwd"), file("acl"), folder.path(),
                                QString::fromLocal8Bit(me ? me->pw_name : "root"))
                           .arg(port);
        if (tls) {
            if (!makeCertificates())
                return false;
            conf += QStringLiteral("listener %1 127.0.0.1\ncafile %2\ncertfile %3\nkeyfile %4\n")
                        .arg(tlsPort)
                        .arg(file("ca.crt"), file("server.crt"), file("server.key"));
        }
        writeFile(file("mosquitto.conf"), conf.toUtf8());
        return true;
    }

    // Two authorities, "ca" that signed the broker's certificate (for localhost only) and
    // "other" that did not.
    bool makeCertificates()
    {
        writeFile(file("server.ext"), "subjectAltName=DNS:localhost\n");
        for (const char *command :
             {"req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=ca -keyout ca.key -out ca.crt",
              "req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=other -keyout other.key -out "
              "other.crt",
              "req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key -out server.csr",
              "x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile "
              "server.ext -out server.crt"}) {
            if (!run("openssl", QString(command).split(' ')))
                return false;
        }
        return true;
    }

    // A tool, as a shell user would run it in the folder; false with what it said in log().
    bool run(const QString &program, const QStringList &arguments)
    {
        QProcess tool;
        tool.setWorkingDirectory(folder.path());
        tool.start(program, arguments);
        if (tool.waitForFinished(mosquittoStartMs) && tool.exitCode() == 0)
            return true;
        err = program.toLocal8Bit() + " failed: " + tool.readAllStandardError();
        return false;
    }

    QStringList stations;
    bool tls;
};

// mosquitto_sub as "watcher": every message under chamberctl/, as it comes. A persistent session
// (a client id, QoS 1) keeps what is published while it is away, across a restart of the broker.
class Subscriber
{
public:
    struct Message
    {
        QString topic;
        QJsonObject payload;
    };

    Subscriber(const Mosquitto &broker, const QString &filter = QStringLiteral("chamberctl/#"),
               const QStringList &extra = {})
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine().trimmed();
                const int space = line.indexOf(' ');
                messages.append({QString::fromUtf8(line.left(space)),
                                 QJsonDocument::fromJson(line.mid(space + 1)).object()});
            }
        });
        process.start(QStringLiteral("mosquitto_sub"),
                      QStringList{"-h", "127.0.0.1", "-p", QString::number(broker.port), "-u",
                                  Mosquitto::watcher, "-P", Mosquitto::password(Mosquitto::watcher),
                                  "-t", filter, "-v", "-q", "1"}
                          << extra);
    }
    ~Subscriber()
    {
        process.kill();
        process.waitForFinished();
    }

    QList<Message> on(const QString &topic) const
    {
        QList<Message> found;
        for (const Message &message : messages) {
            if (message.topic == topic)
                found << message;
        }
        return found;
    }

    QProcess process;
    QList<Message> messages;
};

} // namespace chamber
