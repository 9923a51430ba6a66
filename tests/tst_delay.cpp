// The pause that processes events: nothing at 0, at least once, its length, its nesting.
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
};

QTEST_MAIN(tst_delay)
#include "tst_delay.moc"
