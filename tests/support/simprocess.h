// chamber-sim as a child process of a test: started with options, its log read as it comes.
#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>

namespace chamber {

constexpr int simStartMs = 15000; // generous for a sanitizer build on a busy machine

// Stopped and reaped when it leaves scope. Its log is read whenever events are
// processed, since a simulator whose log pipe fills up stops answering.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &args)
    {
        QObject::connect(&process, &QProcess::readyReadStandardError, &process, [this] { log(); });
        process.start(QStringLiteral(CHAMBER_SIM), args);
    }
    ~SimProcess() { stop(); }

    // Waits for the CHAMBERCTL_PORTS line and takes the folder from it; false, with the log
    // printed, if the simulator ended first or never said it.
    bool waitReady()
    {
        static constexpr char key[] = "CHAMBERCTL_PORTS=";
        const QDeadlineTimer deadline(simStartMs);
        while (!process.canReadLine() && process.waitForReadyRead(int(deadline.remainingTime()))) {
        }
        const QByteArray line = process.readLine().trimmed();
        if (line.startsWith(key))
            folder = QFile::decodeName(line.mid(sizeof key - 1));
        else
            qWarning("chamber-sim did not start: %s\n%s", line.constData(), qPrintable(log()));
        return !folder.isEmpty();
    }
    QString port() const { return folder + QStringLiteral("/COM1"); }

    // What the simulator logged so far, whole once it has been stopped; or its lines that begin
    // with prefix.
    QString log() { return QString::fromLocal8Bit(err += process.readAllStandardError()); }
    QStringList logLines(const QString &prefix)
    {
        QStringList lines = log().split('\n');
        lines.removeIf([&](const QString &line) { return !line.startsWith(prefix); });
        return lines;
    }

    // Ends the simulator (if it has not ended by itself); empty when it exited 0, else its exit
    // and its whole log, which also holds any sanitizer report.
    QString stop()
    {
        process.terminate(); // SIGTERM
        if (!process.waitForFinished(simStartMs)) {
            process.kill();
            process.waitForFinished(simStartMs); // a crash exit, reported below
        }
        if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
            return {};
        return QStringLiteral("exit %1:\n%2").arg(process.exitCode()).arg(log());
    }

    QProcess process;
    QByteArray err;
    QString folder;
};

} // namespace chamber
