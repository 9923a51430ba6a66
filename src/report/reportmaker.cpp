// Reports made by a child process, one record at a time, and what it said when it failed.
#include "report/reportmaker.h"

namespace chamber {

namespace {

// A day's report takes about a second; a report that is being made when the program ends gets
// this long to finish before it is left to its own devices.
constexpr int graceAtEndMs = 10000;

QStringList arguments(const QString &record)
{
    return {QStringLiteral("--report"), record};
}

} // namespace

ReportMaker::ReportMaker(QObject *parent)
    : QObject(parent)
{}

ReportMaker::~ReportMaker()
{
    if (process) {
        process->disconnect(this);
        process->waitForFinished(graceAtEndMs);
    }
    // the window is closing: nobody is left to hear how these go
    for (const QString &record : std::as_const(waiting))
        QProcess::startDetached(program_, arguments(record));
}

void ReportMaker::make(const QString &record)
{
    if (program_.isEmpty())
        return;
    waiting << record;
    if (!process)
        startNext();
}

void ReportMaker::startNext()
{
    if (waiting.isEmpty())
        return;
    current = waiting.takeFirst();
    process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setStandardOutputFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this, &ReportMaker::finished);
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finished(-1, QProcess::CrashExit);
    });
    process->start(program_, arguments(current));
}

void ReportMaker::finished(int exitCode, QProcess::ExitStatus status)
{
    const QString record = current;
    // its own message, not whatever else the platform had to say on the way
    QString said;
    const QStringList lines =
        QString::fromLocal8Bit(process->readAllStandardError()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("chamberctl: ")))
            said = line.mid(12).trimmed();
    }
    const QString startError =
        process->error() == QProcess::FailedToStart ? process->errorString() : QString();
    process->disconnect(this);
    process->deleteLater();
    process = nullptr;

    if (status == QProcess::NormalExit && exitCode == 0) {
        emit written(record);
    } else {
        QString reason = !startError.isEmpty() ? startError : said;
        if (reason.isEmpty())
            reason = status == QProcess::CrashExit
                         ? QStringLiteral("the report maker stopped unexpectedly")
                         : QStringLiteral("the report maker ended with status %1").arg(exitCode);
        emit failed(record, reason);
    }
    startNext();
}

} // namespace chamber

#include "moc_reportmaker.cpp"
