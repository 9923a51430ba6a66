// The run record's file format and the thread that writes it.
#include "record/runrecord.h"

#include "util/numbertext.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cmath>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace chamber {

namespace {

// Another record of the same port begun within the same second gets a number: _2, _3, ...
constexpr int mostRecordsPerSecond = 100;

// Quotes a field only when it holds a separator, a quote or a line break.
QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString celsius(double value)
{
    return std::isnan(value) ? QString() : writenumber(value, 1);
}

// Forces what has been written through to the disk, so that a power cut loses no row that was
// written. 0 when done, else the errno.
int syncToDisk(int handle)
{
#if defined(Q_OS_WIN)
    return _commit(handle) == 0 ? 0 : errno;
#elif defined(Q_OS_LINUX)
    return ::fdatasync(handle) == 0 ? 0 : errno;
#else
    return ::fsync(handle) == 0 ? 0 : errno;
#endif
}

} // namespace

QString recordFileName(const QDateTime &started, const QString &port)
{
    QString safePort = port;
    for (QChar &c : safePort) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    }
    const QDate d = started.date();
    const QTime t = started.time();
    return QString::asprintf("%04d-%02d-%02dT%02d-%02d-%02d_", d.year(), d.month(), d.day(),
                             t.hour(), t.minute(), t.second()) +
           safePort + QStringLiteral(".csv");
}

QString isoLocalTime(const QDateTime &when)
{
    const QDate d = when.date();
    const QTime t = when.time();
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int magnitude = std::abs(offsetMinutes);
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", d.year(), d.month(),
                             d.day(), t.hour(), t.minute(), t.second(), t.msec(),
                             offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

QByteArray recordPreamble(const RunProfile &profile, const QString &version)
{
    QString text = QStringLiteral("# chamberctl %1 run record\n").arg(version);
    text += QStringLiteral("# port: %1\n").arg(profile.port);
    text += QStringLiteral("# started: %1\n").arg(isoLocalTime(profile.started));
    for (int i = 0; i < 4; ++i) {
        text += QStringLiteral("# point %1: setpoint %2 C, dwell %3 s, %4\n")
                    .arg(i + 1)
                    .arg(profile.setpoints[i], profile.dwells[i],
                         profile.used[i] ? QStringLiteral("used") : QStringLiteral("not used"));
    }
    text += QStringLiteral("# cycles: %1\n").arg(profile.cycles);
    return text.toUtf8();
}

QByteArray recordHeader()
{
    return QByteArrayLiteral("time,elapsed_s,temperature_C,setpoint_C,phase,cycle,errors,event\n");
}

QByteArray recordLine(const RunRow &row)
{
    const QStringList fields = {
        isoLocalTime(row.when),   QString::asprintf("%.3f", row.elapsedSeconds),
        celsius(row.temperature), celsius(row.setpoint),
        csvField(row.phase),      csvField(row.cycle),
        csvField(row.errors),     csvField(row.event)};
    return (fields.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8();
}

RunRecord::RunRecord(QObject *parent)
    : QObject(parent)
    , thread(&RunRecord::writer, this)
{}

RunRecord::~RunRecord()
{
    end();
    {
        const std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

void RunRecord::begin(const QString &folder, const RunProfile &profile, const QString &version)
{
    end();
    open = true;
    push(Open{folder, recordFileName(profile.started, profile.port),
              recordPreamble(profile, version) + recordHeader()});
}

void RunRecord::add(const RunRow &row)
{
    if (open)
        push(row);
}

void RunRecord::end()
{
    if (!open)
        return;
    open = false;
    push(Close{});
}

void RunRecord::waitWritten()
{
    std::unique_lock lock(mutex);
    drained.wait(lock, [this] { return jobs.empty() && !busy; });
}

void RunRecord::push(Job job)
{
    {
        const std::lock_guard lock(mutex);
        jobs.push_back(std::move(job));
    }
    wake.notify_one();
}

void RunRecord::writer()
{
    QFile file; // used on this thread only
    bool broken = false;
    auto fail = [&](const QString &reason) {
        const QString path = file.fileName();
        file.close();
        broken = true;
        // reported on the window's thread; dropped if the record is gone by then
        QMetaObject::invokeMethod(
            this, [this, path, reason] { emit failed(path, reason); }, Qt::QueuedConnection);
    };
    auto syncFile = [&] {
        if (!file.isOpen() || broken)
            return;
        if (const int error = syncToDisk(file.handle()))
            fail(qt_error_string(error));
    };
    auto write = [&](const QByteArray &bytes) {
        if (broken || !file.isOpen())
            return;
        // a short write is followed by one that fails with the reason (disk full, file too large)
        for (qsizetype done = 0; done < bytes.size();) {
            const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
            if (n <= 0)
                return fail(file.errorString());
            done += n;
        }
    };

    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (jobs.empty())
            return; // stopping, and everything queued has been written
        std::deque<Job> batch;
        batch.swap(jobs);
        busy = true;
        lock.unlock();

        for (Job &job : batch) {
            if (const Open *opening = std::get_if<Open>(&job)) {
                syncFile();
                file.close();
                broken = false;
                // a folder that can't be made shows as the file's open failing, with its reason
                QDir().mkpath(opening->folder);
                const QString base = QDir(opening->folder).filePath(opening->name);
                QString path = base;
                for (int n = 2; QFile::exists(path) && n <= mostRecordsPerSecond; ++n)
                    path = base.chopped(4) + QStringLiteral("_%1.csv").arg(n);
                file.setFileName(path);
                // unbuffered: each row reaches the operating system as it is written
                if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
                    fail(file.errorString());
                write(opening->preamble);
            } else if (const RunRow *row = std::get_if<RunRow>(&job)) {
                write(recordLine(*row));
            } else {
                syncFile();
                file.close();
            }
        }
        syncFile();

        lock.lock();
        busy = false;
        if (jobs.empty())
            drained.notify_all();
    }
}

} // namespace chamber
