// Measures the report of a day's run: the real program making it from a 24-hour record.
#include "record/runrecord.h"
#include "recovery/runstanding.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int readingsPerSecond = 4;
constexpr int daySeconds = 24 * 60 * 60;
constexpr double rampCPerSecond = 0.05; // 3 K/min, as a real chamber might
constexpr int sampleMs = 5;
constexpr int pssEverySamples = 10;

// A day of a chamber cycling between 75 and 25 C, each held 20 minutes, with a tolerance: the
// record chamberctl writes, row by row.
QString writeDay(const QString &folder, qint64 &readings)
{
    chamber::RunSetup setup;
    setup.version = QStringLiteral(CHAMBERCTL_VERSION);
    setup.port = QStringLiteral("COM1");
    setup.device = QStringLiteral("/dev/ttyUSB0");
    setup.started = QDateTime::currentDateTime().addDays(-1);
    setup.profile = {{75, 25, 35, 25}, {1200, 1200, 5, 5}, {true, true, false, false}, 50};
    setup.profile.conditions.toleranceC = 0.5;
    const auto shared = std::make_shared<const chamber::RunSetup>(setup);
    const QString path = QDir(folder).filePath(chamber::recordFileName(setup.started, setup.port));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(chamber::recordPreamble(setup) + chamber::recordHeader());

    chamber::RunFact fact;
    fact.inRun = true;
    fact.setup = shared;
    fact.phase = QStringLiteral("Hold");
    qint64 ms = 0;
    const auto row = [&](chamber::RunFact::Kind kind, const QString &text = {}) {
        fact.kind = kind;
        fact.text = text;
        fact.when = setup.started.addMSecs(ms);
        fact.elapsedSeconds = ms / 1000.0;
        file.write(chamber::recordLine(fact));
    };
    row(chamber::RunFact::RunBegun);
    double temperature = 23.0;
    readings = 0;
    int point = 1; // the next point's index, so that the first is point 0
    int dwellLeftMs = 0;
    bool approaching = false;
    for (; ms < qint64(daySeconds) * 1000; ms += 1000 / readingsPerSecond) {
        if (!approaching && dwellLeftMs <= 0) {
            point = 1 - point;
            if (point == 0) {
                ++fact.cycle;
                row(chamber::RunFact::Cycle);
            }
            const double setpoint = setup.profile.setpoints[point];
            fact.phase = setpoint > temperature ? QStringLiteral("Heat") : QStringLiteral("Cool");
            row(chamber::RunFact::Phase);
            row(chamber::RunFact::Event, QStringLiteral("approaching point %1").arg(point + 1));
            fact.setpoint = setpoint;
            row(chamber::RunFact::SetpointSent);
            approaching = true;
        }
        const double setpoint = fact.setpoint;
        const double step = rampCPerSecond / readingsPerSecond;
        temperature = std::clamp(setpoint, temperature - step, temperature + step);
        fact.temperature = temperature + (readings % 5) * 0.02; // a little noise in the band
        ++readings;
        row(chamber::RunFact::Reading);
        fact.temperature = chamber::RunFact::none;
        if (approaching && std::abs(temperature - setpoint) < 1e-9) {
            approaching = false;
            dwellLeftMs = int(setup.profile.dwells[point] * 1000);
            fact.phase = QStringLiteral("Wait");
            row(chamber::RunFact::Phase);
        } else if (!approaching) {
            dwellLeftMs -= 1000 / readingsPerSecond;
        }
    }
    fact.setpoint = 25.0;
    row(chamber::RunFact::SetpointSent);
    fact.phase = QStringLiteral("Hold");
    row(chamber::RunFact::Phase);
    row(chamber::RunFact::RunEnded, QStringLiteral("stopped by the operator"));
    return file.error() == QFileDevice::NoError ? path : QString();
}

// A number field ("VmHWM:", "Pss:") of a /proc file, in kB; -1 when gone.
long procKb(const QString &file, const QByteArray &field)
{
    QFile proc(file);
    if (!proc.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : proc.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

// CPU time of every thread of pid so far, ns (the scheduler's own count).
qint64 cpuNs(qint64 pid)
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

struct Measured
{
    double wallMs = 0;
    double cpuMs = 0;
    double peakRssMb = 0;
    double peakPssMb = 0;
    int exitCode = -1;
};

// One report, its process watched every few milliseconds until it ends.
Measured measure(const QString &program, const QString &record)
{
    Measured m;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {QStringLiteral("--report"), record});
    if (!process.waitForStarted())
        return m;
    const qint64 pid = process.processId();
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    qint64 cpu = 0;
    long hwm = 0, pss = 0;
    for (int sample = 0; !process.waitForFinished(sampleMs); ++sample) {
        cpu = std::max(cpu, cpuNs(pid));
        hwm = std::max(hwm, procKb(proc + QStringLiteral("status"), "VmHWM:"));
        // walking every mapping holds the process's memory lock: not too often
        if (sample % pssEverySamples == 0)
            pss = std::max(pss, procKb(proc + QStringLiteral("smaps_rollup"), "Pss:"));
    }
    m.wallMs = clock.nsecsElapsed() / 1e6;
    m.cpuMs = cpu / 1e6;
    m.peakRssMb = hwm / 1024.0;
    m.peakPssMb = pss / 1024.0;
    m.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return m;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_report CHAMBERCTL [runs]\n");
        return 1;
    }
    const QString program = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    QTemporaryDir folder;
    qint64 readings = 0;
    const QString record = writeDay(folder.path(), readings);
    if (record.isEmpty()) {
        std::fprintf(stderr, "bench_report: the record could not be written\n");
        return 1;
    }
    std::printf("record: %lld readings (24 h at %d/s), %.1f MB\n", readings, readingsPerSecond,
                QFileInfo(record).size() / 1e6);
    QList<Measured> all;
    for (int i = 0; i < runs; ++i) {
        const Measured m = measure(program, record);
        if (m.exitCode != 0) {
            std::fprintf(stderr, "bench_report: chamberctl --report ended with %d\n", m.exitCode);
            return 1;
        }
        std::printf("  run %d: %.0f ms wall, %.0f ms CPU, peak RSS %.1f MB, peak PSS %.1f MB\n",
                    i + 1, m.wallMs, m.cpuMs, m.peakRssMb, m.peakPssMb);
        all << m;
    }
    std::sort(all.begin(), all.end(),
              [](const Measured &a, const Measured &b) { return a.wallMs < b.wallMs; });
    const Measured &mid = all[all.size() / 2];
    const double worstRss =
        std::max_element(all.begin(), all.end(), [](const Measured &a, const Measured &b) {
            return a.peakRssMb < b.peakRssMb;
        })->peakRssMb;
    std::printf("report of a day: median %.0f ms wall (%.0f ms CPU), peak RSS %.1f MB at most, "
                "PSS %.1f MB (targets: under 2 s, under 100 MB); PDF %.0f kB, summary %.0f kB\n",
                mid.wallMs, mid.cpuMs, worstRss, mid.peakPssMb,
                QFileInfo(record.chopped(4) + QStringLiteral(".pdf")).size() / 1024.0,
                QFileInfo(record.chopped(4) + QStringLiteral(".summary.json")).size() / 1024.0);

    // At start, the program reads the newest record to see whether its run ended: the same day
    // cut by a crash before its end delays the window by this much.
    QTemporaryDir crashed;
    QFile whole(record);
    if (!whole.open(QIODevice::ReadOnly))
        return 1;
    QByteArray text = whole.readAll();
    text.truncate(text.lastIndexOf("\n", text.size() - 2) + 1); // the end row lost
    QFile cut(QDir(crashed.path()).filePath(QFileInfo(record).fileName()));
    if (!cut.open(QIODevice::WriteOnly) || cut.write(text) != text.size())
        return 1;
    cut.close();
    QList<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
        const qint64 cpuBefore = cpuNs(QCoreApplication::applicationPid());
        QElapsedTimer clock;
        clock.start();
        QString error;
        const auto standing = chamber::unendedRun(crashed.path(), error);
        wall << clock.nsecsElapsed() / 1e6;
        cpu << (cpuNs(QCoreApplication::applicationPid()) - cpuBefore) / 1e6;
        if (!standing) {
            std::fprintf(stderr, "bench_report: the cut record was not found unended: %s\n",
                         qPrintable(error));
            return 1;
        }
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("unended run looked for at start in a cut day's record: median %.0f ms wall "
                "(%.0f ms CPU)\n",
                wall[wall.size() / 2], cpu[cpu.size() / 2]);
    return 0;
}
