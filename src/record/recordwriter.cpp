// The records' writer thread: its queue, and files made, written and forced to the disk.
#include "record/recordwriter.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <map>
#include <memory>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace chamber {

namespace {

// Another record of the same name begun within the same second gets a number: _2, _3, ...
constexpr int mostRecordsPerSecond = 100;

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

// Marks the file as being written for as long as it is open here, for recordInUse().
void lockOpen(int handle)
{
#ifdef Q_OS_WIN
    Q_UNUSED(handle); // Windows shares no file that is open for writing
#else
    ::flock(handle, LOCK_EX | LOCK_NB);
#endif
}

} // namespace

bool recordInUse(const QString &path)
{
#ifdef Q_OS_WIN
    QFile file(path);
    return file.exists() && !file.open(QIODevice::ReadWrite);
#else
    const int handle = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (handle < 0)
        return false;
    const bool locked = ::flock(handle, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(handle); // lets go of a lock taken here
    return locked;
#endif
}

RecordWriter::RecordWriter(QObject *parent)
    : QObject(parent)
    , thread(&RecordWriter::writer, this)
{}

RecordWriter::~RecordWriter()
{
    {
        const std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

int RecordWriter::open(const QString &folder, const QString &name, const QByteArray &preamble)
{
    push(Open{++lastFile, folder, name, preamble});
    return lastFile;
}

int RecordWriter::append(const QString &path, qint64 wholeBytes)
{
    push(Open{++lastFile, QString(), path, {}, wholeBytes});
    return lastFile;
}

void RecordWriter::write(int file, const QByteArray &bytes)
{
    push(Line{file, bytes});
}

void RecordWriter::close(int file)
{
    push(Close{file});
}

void RecordWriter::waitWritten()
{
    std::unique_lock lock(mutex);
    drained.wait(lock, [this] { return jobs.empty() && !busy; });
}

void RecordWriter::push(Job job)
{
    {
        const std::lock_guard lock(mutex);
        jobs.push_back(std::move(job));
    }
    wake.notify_one();
}

void RecordWriter::writer()
{
    struct Output
    {
        QFile file; // used on this thread only
        bool broken = false;
        qint64 whole = 0; // the file's length up to the end of its last whole row
    };
    std::map<int, std::unique_ptr<Output>> outputs;
    // reported on the window's thread; dropped if the writer is gone by then
    auto tellClosed = [this](int id, const QString &path) {
        QMetaObject::invokeMethod(
            this, [this, id, path] { emit closed(id, path); }, Qt::QueuedConnection);
    };
    auto fail = [&](int id, Output &out, const QString &reason) {
        const QString path = out.file.fileName();
        out.file.close();
        out.broken = true;
        QMetaObject::invokeMethod(
            this, [this, id, path, reason] { emit failed(id, path, reason); },
            Qt::QueuedConnection);
    };
    auto syncFile = [&](int id, Output &out) {
        if (!out.file.isOpen() || out.broken)
            return;
        if (const int error = syncToDisk(out.file.handle()))
            fail(id, out, qt_error_string(error));
        else if (deleted(out.file.handle()))
            fail(id, out, QStringLiteral("the file was deleted during the run"));
    };
    auto write = [&](int id, Output &out, const QByteArray &bytes) {
        if (out.broken || !out.file.isOpen())
            return;
        // a short write is followed by one that fails with the reason (disk full, file too large)
        for (qsizetype done = 0; done < bytes.size();) {
            const qint64 n = out.file.write(bytes.constData() + done, bytes.size() - done);
            if (n <= 0) {
                const QString reason = out.file.errorString();
                // A cut row would still read as a row, its last field cut short ("phase cha"):
                // the record keeps whole rows only. Shrinking needs no room on a full disk.
                out.file.resize(out.whole);
                return fail(id, out, reason);
            }
            done += n;
        }
        out.whole += bytes.size();
    };

    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (jobs.empty()) {
            for (auto &[id, out] : outputs)
                syncFile(id, *out);
            return; // stopping, and everything queued has been written
        }
        std::deque<Job> batch;
        batch.swap(jobs);
        busy = true;
        lock.unlock();

        for (Job &job : batch) {
            if (const Open *opening = std::get_if<Open>(&job)) {
                auto out = std::make_unique<Output>();
                if (opening->folder.isEmpty()) {
                    out->file.setFileName(opening->name);
                    if (!out->file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
                        fail(opening->file, *out, out->file.errorString());
                    else if (!out->file.resize(opening->wholeBytes) ||
                             !out->file.seek(opening->wholeBytes))
                        fail(opening->file, *out, out->file.errorString());
                    else
                        lockOpen(out->file.handle());
                    out->whole = opening->wholeBytes;
                    outputs[opening->file] = std::move(out);
                    continue;
                }
                const int folderError = makeFolders(opening->folder);
                const QString base = QDir(opening->folder).filePath(opening->name);
                QString path = base;
                for (int n = 2; QFile::exists(path) && n <= mostRecordsPerSecond; ++n)
                    path = base.chopped(4) + QStringLiteral("_%1.csv").arg(n);
                out->file.setFileName(path);
                // unbuffered: each row reaches the operating system as it is written
                if (folderError != 0)
                    fail(opening->file, *out, qt_error_string(folderError));
                else if (!out->file.open(QIODevice::WriteOnly | QIODevice::NewOnly |
                                         QIODevice::Unbuffered))
                    fail(opening->file, *out, out->file.errorString());
                else
                    lockOpen(out->file.handle());
                write(opening->file, *out, opening->preamble);
                outputs[opening->file] = std::move(out);
            } else if (const Line *line = std::get_if<Line>(&job)) {
                if (const auto found = outputs.find(line->file); found != outputs.end())
                    write(line->file, *found->second, line->bytes);
            } else if (const auto found = outputs.find(std::get<Close>(job).file);
                       found != outputs.end()) {
                Output &out = *found->second;
                syncFile(found->first, out);
                if (!out.broken) {
                    out.file.close();
                    tellClosed(found->first, out.file.fileName());
                }
                outputs.erase(found);
            }
        }
        for (auto &[id, out] : outputs)
            syncFile(id, *out);

        lock.lock();
        busy = false;
        if (jobs.empty())
            drained.notify_all();
    }
}

} // namespace chamber

#include "moc_recordwriter.cpp"
