// Times the real chamberctl binary from exec to the first paint of its window, port list filled.
//
// The window is shown only after the port scan has filled its list, and Qt's own painting log
// (qt.widgets.painting) says when the window's first frame is flushed to the screen, so the
// program is timed as it ships, with nothing added to it for the purpose.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

constexpr int startMs = 30000;

// Milliseconds from starting program to the first flush of the main window, or nothing.
std::optional<double> timeOne(const QString &program, const QString &platform)
{
    static const QRegularExpression firstPaint(
        QStringLiteral("^qt\\.widgets\\.painting: Flushing .* of chamber::main\\("));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.widgets.painting=true"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.setReadChannel(QProcess::StandardError);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    std::optional<double> shown;
    while (!shown && clock.elapsed() < startMs) {
        if (!process.canReadLine() && !process.waitForReadyRead(startMs))
            break;
        while (process.canReadLine()) {
            if (firstPaint.match(QString::fromLocal8Bit(process.readLine())).hasMatch()) {
                shown = clock.nsecsElapsed() / 1e6;
                break;
            }
        }
    }
    process.kill();
    process.waitForFinished(startMs);
    return shown;
}

} // namespace

// Usage: bench_startup PROGRAM RUNS PLATFORM...
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: bench_startup PROGRAM RUNS PLATFORM...\n");
        return 1;
    }
    const QString program = args[1];
    const int runs = std::max(1, args[2].toInt());
    for (const QString &platform : args.mid(3)) {
        QList<double> times;
        for (int i = 0; i < runs; ++i) {
            const std::optional<double> shown = timeOne(program, platform);
            if (!shown) {
                std::fprintf(stderr, "chamberctl showed no window on %s\n", qPrintable(platform));
                return 1;
            }
            times << *shown;
        }
        std::sort(times.begin(), times.end());
        std::printf("%-9s exec to first paint, port list filled, %d runs: median %.0f ms, "
                    "fastest %.0f ms, slowest %.0f ms (target: under 300 ms)\n",
                    qPrintable(platform), runs, times[times.size() / 2], times.front(),
                    times.back());
    }
    return 0;
}
