// Times chamberctl's start-up: from process start to the window shown with its port list filled.
#include "link/qtseriallink.h"
#include "main/main.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QWindow>

#include <algorithm>
#include <cstdio>

namespace {

// The child does what chamberctl's main() does, then reports once the window is on screen.
int child(int argc, char *argv[])
{
    QApplication app(argc, argv);
    chamber::QtSerialLink link;
    chamber::main window(&link);
    window.Form_Load();
    window.show();
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const auto *ports = window.findChild<QComboBox *>(QStringLiteral("portselect"));
    std::printf("shown %d\n", ports ? ports->count() - 1 : -1);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return child(argc, argv);

    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 15;
    QList<qint64> times;
    QByteArray report;
    for (int i = 0; i < runs; ++i) {
        QProcess process;
        QElapsedTimer clock;
        clock.start();
        process.start(QString::fromLocal8Bit(argv[0]), {QStringLiteral("--child")});
        if (!process.waitForReadyRead(30000)) {
            std::fprintf(stderr, "the program did not start: %s\n",
                         qPrintable(process.errorString()));
            return 1;
        }
        times << clock.elapsed();
        report = process.readAllStandardOutput().trimmed();
        process.waitForFinished(30000);
    }
    std::sort(times.begin(), times.end());
    std::printf("start-up to window shown with port list (%s, platform %s), %d runs:\n",
                report.constData(), qgetenv("QT_QPA_PLATFORM").isEmpty()
                                        ? "default"
                                        : qgetenv("QT_QPA_PLATFORM").constData(),
                runs);
    std::printf("  median %lld ms, fastest %lld ms, slowest %lld ms (target: under 300 ms)\n",
                times[times.size() / 2], times.front(), times.back());
    return 0;
}
