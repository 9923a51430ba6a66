// The pause that processes events: its length, its nesting and its clock.
#include "util/basicutilities.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

using namespace chamber::basicutilities;

class tst_delay : public QObject
{
    Q_OBJECT

private slots:
    void pause()
    {
        bool posted = false;
        QTimer::singleShot(0, this, [&posted] { posted = true; });
        delay(0);
        QVERIFY2(!posted, "delay(0) processed a posted event");
        // a negative count processes events once and returns, even on a clock that stands still
        delay(-5, [] { return qint64(1000); });
        QVERIFY(posted);

        // a timer keeps firing through the whole pause
        int fired = 0;
        QTimer repeating;
        connect(&repeating, &QTimer::timeout, this, [&fired] { ++fired; });
        repeating.start(5);
        QElapsedTimer watch;
        watch.start();
        delay(5);
        QVERIFY2(watch.elapsed() >= 50, qPrintable(QString::number(watch.elapsed())));
        QVERIFY(fired >= 2);
        repeating.stop();

        // a pause begun inside another: both end, the outer not before its own time nor the inner's
        for (const auto &[inner, outer] : {std::pair(3, 8), std::pair(10, 2)}) {
            QTimer::singleShot(0, this, [inner] { delay(inner); });
            watch.restart();
            delay(outer);
            QVERIFY(watch.elapsed() >= std::max(inner, outer) * 10);
        }
    }

    // 300 s on a clock that jumps forward or goes back in a handler once the pause waits: only
    // the jump can end the pause in time.
    void clockThatJumps()
    {
        for (const qint64 later : {qint64(1000000000), qint64(5)}) {
            qint64 now = 86399000;
            QTimer::singleShot(20, this, [&now, later] { now = later; });
            QElapsedTimer watch;
            watch.start();
            delay(30000, [&now] { return now; });
            QVERIFY(watch.elapsed() >= 20);
            QVERIFY2(watch.elapsed() < 60000,
                     "the pause waited for real time instead of its clock");
        }
    }
};

QTEST_MAIN(tst_delay)
#include "tst_delay.moc"
