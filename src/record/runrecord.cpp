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
#include <sys/stat.h>
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

// Makes folder and the folders above it that are missing. 0 when it is there, else the errno of
// the step that failed: QDir::mkpath() only says that it failed, and the open after it would
// then report a missing folder whatever the cause (a read-only disk, no permission).
int makeFolders(const QString &folder)
{
#ifdef Q_OS_WIN
    return QDir().mkpath(folder) ? 0 : ENOENT; // the open that follows says why
#else
    const QByteArray path = QFile::encodeName(QDir::cleanPath(QDir(folder).absolutePath()));
    for (qsizetype end = path.indexOf('/', 1);; end = path.indexOf('/', end + 1)) {
        const QByteArray step = end < 0 ? path : path.left(end);
        if (::mkdir(step.constData(), 0777) != 0) {
            const int error = errno;
            struct stat st
            {
            };
            if (error != EEXIST)
                return error;
            if (::stat(step.constData(), &st) != 0)
                return errno;
            if (!S_ISDIR(st.st_mode))
                return ENOTDIR;
        }
        if (end < 0)
            return 0;
    }
#endif
}

// Whether the open file has lost its last name: deleted, or its folder removed, while it was
// being written. Its rows would then go nowhere that anyone could read them.
bool deleted(int handle)
{
#ifdef Q_OS_WIN
    Q_UNUSED(handle);
    return false; // Windows refuses to delete a file that is open
#else
    struct stat st
    {
    };
    return ::fstat(handle, &st) == 0 && st.st_nlink == 0;
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

QByteArray recordPreamble(const RunSetup &setup)
{
    QString text = QStringLiteral("# chamberctl %1 run record\n").arg(setup.version);
    text += QStringLiteral("# port: %1\n").arg(setup.port);
    if (!setup.device.isEmpty())
        text += QStringLiteral("# device: %1\n").arg(setup.device);
    text += QStringLiteral("# started: %1\n").arg(isoLocalTime(setup.started));
    if (!setup.profileName.isEmpty())
        text += QStringLiteral("# profile: %1\n").arg(setup.profileName);
    if (!setup.operatorName.isEmpty())
        text += QStringLiteral("# operator: %1\n").arg(setup.operatorName);
    if (!setup.testId.isEmpty())
        text += QStringLiteral("# test id: %1\n").arg(setup.testId);
    const Profile &profile = setup.profile;
    for (int i = 0; i < 4; ++i) {
        text +=
            QStringLiteral("# point %1: setpoint %2 C, dwell %3 s, %4\n")
                .arg(i + 1)
                .arg(writenumber(profile.setpoints[i], 1), writenumber(profile.dwells[i], 0),
                     profile.usePoints[i] ? QStringLiteral("used") : QStringLiteral("not used"));
    }
    text += QStringLiteral("# cycles: %1\n").arg(writenumber(profile.cycles, 0));
    if (profile.conditions.any())
        text += QStringLiteral("# conditions: %1\n")
                    .arg(QString::fromUtf8(conditionsLine(profile.conditions)));
    // a line break in a name would begin a row of its own
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text.toUtf8();
}

QByteArray recordHeader()
{
    return QByteArrayLiteral("time,elapsed_s,temperature_C,setpoint_C,phase,cycle,errors,event\n");
}

QByteArray recordLine(const RunFact &fact)
{
    if (fact.kind == RunFact::Gap)
        return {};
    const QStringList fields = {
        isoLocalTime(fact.when),      QString::asprintf("%.3f", fact.elapsedSeconds),
        celsius(fact.temperature),    celsius(fact.setpoint),
        csvField(fact.phase),         QString::number(fact.cycle),
        QString::number(fact.errors), csvField(factEvent(fact))};
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

void RunRecord::take(const RunFact &fact)
{
    if (!fact.inRun)
        return;
    if (fact.kind == RunFact::RunBegun)
        begin(*fact.setup);
    if (open) {
        const QByteArray line = recordLine(fact);
        if (!line.isEmpty())
            push(line);
    }
    if (fact.kind == RunFact::RunEnded)
        end();
}

void RunRecord::begin(const RunSetup &setup)
{
    end();
    open = true;
    push(Open{folder_, recordFileName(setup.started, setup.port),
              recordPreamble(setup) + recordHeader()});
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
    qint64 whole = 0; // the file's length up to the end of its last whole row
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
        else if (deleted(file.handle()))
            fail(QStringLiteral("the file was deleted during the run"));
    };
    auto write = [&](const QByteArray &bytes) {
        if (broken || !file.isOpen())
            return;
        // a short write is followed by one that fails with the reason (disk full, file too large)
        for (qsizetype done = 0; done < bytes.size();) {
            const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
            if (n <= 0) {
                const QString reason = file.errorString();
                // A cut row would still read as a row, its last field cut short ("phase cha"):
                // the record keeps whole rows only. Shrinking needs no room on a full disk.
                file.resize(whole);
                return fail(reason);
            }
            done += n;
        }
        whole += bytes.size();
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
                whole = 0;
                const int folderError = makeFolders(opening->folder);
                const QString base = QDir(opening->folder).filePath(opening->name);
                QString path = base;
                for (int n = 2; QFile::exists(path) && n <= mostRecordsPerSecond; ++n)
                    path = base.chopped(4) + QStringLiteral("_%1.csv").arg(n);
                file.setFileName(path);
                // unbuffered: each row reaches the operating system as it is written
                if (folderError != 0)
                    fail(qt_error_string(folderError));
                else if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly |
                                    QIODevice::Unbuffered))
                    fail(file.errorString());
                write(opening->preamble);
            } else if (const QByteArray *line = std::get_if<QByteArray>(&job)) {
                write(*line);
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
