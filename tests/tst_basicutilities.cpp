// The shared routines: the modal alert, its kinds, texts and answers, one at a time; the pause.
#include "support/alertcloser.h"
#include "util/basicutilities.h"

#include <QTextBlock>

using namespace chamber;
using namespace chamber::basicutilities;

namespace {

// The horizontal alignment of the alert's text, 0 when its paragraphs disagree.
int alignment(const Z_alert *dialog)
{
    int alignment = -1;
    for (QTextBlock b = dialog->message->document()->begin(); b.isValid(); b = b.next()) {
        const int align = int(b.blockFormat().alignment() & Qt::AlignHorizontal_Mask);
        alignment = alignment < 0 || alignment == align ? align : 0;
    }
    return alignment;
}

} // namespace

class tst_basicutilities : public QObject
{
    Q_OBJECT

private slots:
    // Kind 0 shows the text centred, kind 1 on the left, kind 2 the report of the error it is
    // given, centred; a CR LF is one line break. "OK" answers true, "Cancel" false.
    void kinds()
    {
        AlertCloser closer;
        QList<int> aligned;
        closer.inside = [&aligned](Z_alert *dialog) { aligned << alignment(dialog); };
        const QString msg = QStringLiteral("Please select an active serial port\r\nSecond line");
        QVERIFY(alert("t", msg, 0));
        closer.button = 1;
        QVERIFY(!alert("t", msg, 1));
        QVERIFY(!alert("t", msg, 2, {-5, "Bad port"}));
        QCOMPARE(closer.seen[0].text,
                 QStringLiteral("Please select an active serial port\nSecond line"));
        QCOMPARE(closer.seen[2].text, QStringLiteral("Error Code: -5\n\nBad port"));
        QCOMPARE(aligned, QList<int>({Qt::AlignHCenter, Qt::AlignLeft, Qt::AlignHCenter}));
    }

    // An unknown kind shows nothing; so does an alert asked for while one is open, as by a tick
    // inside it. News that must not be missed waits for the open alert instead.
    void oneAtATime()
    {
        AlertCloser closer;
        QVERIFY(!alert("t", "m", 3));
        QVERIFY(!alert("t", "m", -1));
        closer.inside = [](Z_alert *) {
            AlertCloser nested; // closes and records any alert that wrongly opens
            QVERIFY(!alert("second", "two", 0));
            QCOMPARE(nested.titles(), QStringList());
            alertWhenFree("lost", QString(), 2, {8010, "gone"});
        };
        QVERIFY(alert("first", "one", 0));
        closer.inside = nullptr;
        QTRY_COMPARE(closer.titles(), QStringList({"first", "lost"}));
        QCOMPARE(closer.seen[1].text, QStringLiteral("Error Code:  8010\n\ngone"));
    }

    // 0 returns at once without processing events, a negative count processes them once; a
    // pause lasts its time with timers firing all through it, also around a pause begun inside it.
    void pause()
    {
        bool posted = false;
        QTimer::singleShot(0, this, [&posted] { posted = true; });
        delay(0);
        QVERIFY2(!posted, "delay(0) processed a posted event");
        // even on a clock that stands still
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

QTEST_MAIN(tst_basicutilities)
#include "tst_basicutilities.moc"
