// Tests of the pause that pumps events, and of the numeric key filter beside it.
#include "util/basicutilities.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

using namespace chamber::basicutilities;

class tst_delay : public QObject
{
    Q_OBJECT

private slots:
    void pause();
    void clockThatJumps();
    void numerickey_data();
    void numerickey();
};

void tst_delay::pause()
{
    bool posted = false;
    QTimer::singleShot(0, this, [&posted] { posted = true; });
    delay(0);
    QVERIFY2(!posted, "delay(0) processed a posted event");
    // a negative count processes events once and returns, even on a clock that stands still
    delay(-5, [] { return qint64(1000); });
    QVERIFY(posted);

    // a timer keeps firing through the whole pause, which counts itself so that closing the
    // window inside it can end the program
    QList<int> depths;
    QTimer repeating;
    connect(&repeating, &QTimer::timeout, this, [&depths] { depths << pumpDepth(); });
    repeating.start(5);
    QElapsedTimer watch;
    watch.start();
    delay(5);
    QVERIFY2(watch.elapsed() >= 50, qPrintable(QString::number(watch.elapsed())));
    QVERIFY2(depths.size() >= 2 && depths.count(1) == depths.size(),
             qPrintable(QDebug::toString(depths)));
    repeating.stop();

    // a pause begun inside another: both end, the outer not before its own time nor the inner's
    for (const auto &[inner, outer] : {std::pair(3, 8), std::pair(10, 2)}) {
        QTimer::singleShot(0, this, [inner] { delay(inner); });
        watch.restart();
        delay(outer);
        QVERIFY(watch.elapsed() >= std::max(inner, outer) * 10);
    }
    QCOMPARE(pumpDepth(), 0);
}

void tst_delay::clockThatJumps()
{
    // 300 s on a clock that jumps forward or goes back in a handler once the pause waits: only
    // the jump can end the pause in time
    for (const qint64 later : {qint64(1000000000), qint64(5)}) {
        qint64 now = 86399000;
        QTimer::singleShot(20, this, [&now, later] { now = later; });
        QElapsedTimer watch;
        watch.start();
        delay(30000, [&now] { return now; });
        QVERIFY(watch.elapsed() >= 20);
        QVERIFY2(watch.elapsed() < 60000, "the pause waited for real time instead of its clock");
    }
}

void tst_delay::numerickey_data()
{
    QTest::addColumn<int>("KeyAscii");
    QTest::addColumn<int>("expected");
    for (int key : {48, 57, 46, 13, 8, 127})
        QTest::addRow("%d passes", key) << key << key;
    // beside the digits, signs, blank, a letter, nul, and a code beyond 16 bits ending in a digit
    for (int key : {47, 58, 45, 43, 44, 32, 101, 0, 65536 + 48})
        QTest::addRow("%d dropped", key) << key << 0;
}

void tst_delay::numerickey()
{
    QFETCH(int, KeyAscii);
    QFETCH(int, expected);
    QCOMPARE(chamber::basicutilities::numerickey(KeyAscii), expected);
}

QTEST_MAIN(tst_delay)
#include "tst_delay.moc"
