// Tests of the pause that pumps events, and of the numeric key filter beside it.
#include "util/basicutilities.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

using namespace chamber;
using basicutilities::delay;

class tst_delay : public QObject
{
    Q_OBJECT

private slots:
    void waitsthefulltime();
    void zeroandnegativecounts();
    void eventsrunduringthepause();
    void nestedpauses();
    void clockthatjumps_data();
    void clockthatjumps();
    void numerickey_data();
    void numerickey();
};

void tst_delay::waitsthefulltime()
{
    for (int hundredths : {1, 5, 12}) {
        QElapsedTimer watch;
        watch.start();
        delay(hundredths);
        QVERIFY2(watch.elapsed() >= hundredths * 10,
                 qPrintable(
                     QStringLiteral("delay(%1) took %2 ms").arg(hundredths).arg(watch.elapsed())));
    }
    QCOMPARE(basicutilities::pumpdepth(), 0);
}

void tst_delay::zeroandnegativecounts()
{
    bool ran = false;
    QMetaObject::invokeMethod(
        this, [&ran] { ran = true; }, Qt::QueuedConnection);
    delay(0);
    QVERIFY2(!ran, "delay(0) processed a posted event");

    // a negative count processes events once and returns, even on a clock that stands still
    delay(-5, [] { return qint64(1000); });
    QVERIFY2(ran, "delay(-5) did not process the posted event");

    bool alsoran = false;
    QMetaObject::invokeMethod(
        this, [&alsoran] { alsoran = true; }, Qt::QueuedConnection);
    delay(-32768, [] { return qint64(0); });
    QVERIFY(alsoran);
}

void tst_delay::eventsrunduringthepause()
{
    bool posted = false;
    bool zerotimer = false;
    int depthinside = 0;
    int ticks = 0;
    QMetaObject::invokeMethod(
        this, [&posted] { posted = true; }, Qt::QueuedConnection);
    QTimer::singleShot(0, this, [&] {
        zerotimer = true;
        depthinside = basicutilities::pumpdepth();
    });
    QTimer repeating;
    connect(&repeating, &QTimer::timeout, this, [&ticks] { ++ticks; });
    repeating.start(5);

    delay(15);
    repeating.stop();

    QVERIFY(posted);
    QVERIFY(zerotimer);
    // the window relies on this count to know that closing now must end the program at once
    QCOMPARE(depthinside, 1);
    QCOMPARE(basicutilities::pumpdepth(), 0);
    // a timer keeps firing through the whole pause, not only in its first pass
    QVERIFY2(ticks >= 2, qPrintable(QStringLiteral("only %1 ticks in 150 ms").arg(ticks)));
}

void tst_delay::nestedpauses()
{
    // an inner pause shorter than the outer one: both end, the outer after its own time
    {
        bool innerdone = false;
        int depthinner = 0;
        QTimer::singleShot(0, this, [&] {
            QTimer::singleShot(0, this, [&] { depthinner = basicutilities::pumpdepth(); });
            delay(3);
            innerdone = true;
        });
        QElapsedTimer watch;
        watch.start();
        delay(8);
        QVERIFY(innerdone);
        QCOMPARE(depthinner, 2);
        QVERIFY(watch.elapsed() >= 80);
    }
    // an inner pause that outlasts the outer one: the outer ends once the inner has returned
    {
        bool innerdone = false;
        qint64 innerms = 0;
        QTimer::singleShot(0, this, [&] {
            QElapsedTimer inner;
            inner.start();
            delay(10);
            innerms = inner.elapsed();
            innerdone = true;
        });
        QElapsedTimer watch;
        watch.start();
        delay(2);
        QVERIFY(innerdone);
        QVERIFY(innerms >= 100);
        QVERIFY(watch.elapsed() >= 100);
    }
    QCOMPARE(basicutilities::pumpdepth(), 0);
}

void tst_delay::clockthatjumps_data()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("later");

    QTest::newRow("clock jumps far past the end") << qint64(1000) << qint64(1000000000);
    QTest::newRow("clock goes back below the start") << qint64(86399000) << qint64(5);
    QTest::newRow("clock goes back by one millisecond") << qint64(5000) << qint64(4999);
}

void tst_delay::clockthatjumps()
{
    QFETCH(qint64, start);
    QFETCH(qint64, later);

    qint64 now = start;
    int reads = 0;
    const basicutilities::MonotonicClock clock = [&] {
        ++reads;
        return now;
    };
    // the jump happens in an event handler, after the pause has begun waiting
    QTimer::singleShot(20, this, [&] { now = later; });

    QElapsedTimer watch;
    watch.start();
    // 300 s on the given clock: only the jump can end this pause in time
    delay(30000, clock);
    QVERIFY2(watch.elapsed() < 60000, "the pause waited for real time instead of its clock");
    QVERIFY(watch.elapsed() >= 20);
    QVERIFY(reads >= 3);
}

void tst_delay::numerickey_data()
{
    QTest::addColumn<int>("keyascii");
    QTest::addColumn<int>("expected");

    QTest::newRow("digit 0") << 48 << 48;
    QTest::newRow("digit 9") << 57 << 57;
    QTest::newRow("point") << 46 << 46;
    QTest::newRow("Enter") << 13 << 13;
    QTest::newRow("Backspace") << 8 << 8;
    QTest::newRow("DEL") << 127 << 127;
    QTest::newRow("slash below 0") << 47 << 0;
    QTest::newRow("colon above 9") << 58 << 0;
    QTest::newRow("minus") << 45 << 0;
    QTest::newRow("plus") << 43 << 0;
    QTest::newRow("comma") << 44 << 0;
    QTest::newRow("blank") << 32 << 0;
    QTest::newRow("letter e") << 101 << 0;
    QTest::newRow("line feed") << 10 << 0;
    QTest::newRow("Escape") << 27 << 0;
    QTest::newRow("nul") << 0 << 0;
    QTest::newRow("negative") << -48 << 0;
    QTest::newRow("beyond 16 bits ending in a digit") << 65536 + 48 << 0;
    QTest::newRow("beyond 16 bits ending in Enter") << 65536 + 13 << 0;
}

void tst_delay::numerickey()
{
    QFETCH(int, keyascii);
    QFETCH(int, expected);
    QCOMPARE(basicutilities::numerickey(keyascii), expected);
}

QTEST_MAIN(tst_delay)
#include "tst_delay.moc"
