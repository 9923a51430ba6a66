// The modal alert: its kinds, texts and answers, one at a time, a long text; and the scan notice.
#include "dialogs/rs232_portscanning.h"
#include "support/alertcloser.h"
#include "util/basicutilities.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include <functional>

using namespace chamber;

namespace {

// Arms an answer for the alert about to open: it notes the title, the text and the alignment of
// the text (0 when its paragraphs disagree), runs extra, then clicks button (0 "OK", 1 "Cancel").
// A check failing in extra still lets the alert be closed.
void answer(
    int button, QStringList &seen, std::function<void(Z_alert *)> extra = [](auto) {})
{
    QTimer::singleShot(0, qApp, [button, &seen, extra] {
        auto *dialog = qobject_cast<Z_alert *>(QApplication::activeModalWidget());
        QVERIFY(dialog && dialog->isVisible());
        int alignment = -1;
        for (QTextBlock b = dialog->message->document()->begin(); b.isValid(); b = b.next()) {
            const int align = int(b.blockFormat().alignment() & Qt::AlignHorizontal_Mask);
            alignment = alignment < 0 || alignment == align ? align : 0;
        }
        seen = {dialog->windowTitle(), dialog->message->toPlainText(), QString::number(alignment)};
        extra(dialog);
        QTest::mouseClick(dialog->Command1[button], Qt::LeftButton);
    });
}

} // namespace

class tst_alert : public QObject
{
    Q_OBJECT

private slots:
    void kinds_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("alignment");
        const QString msg = QStringLiteral("Please select an active serial port\nSecond line");
        QTest::newRow("kind 0, OK") << 0 << 0 << 8002 << msg << int(Qt::AlignHCenter);
        QTest::newRow("kind 1, Cancel") << 1 << 1 << 8002 << msg << int(Qt::AlignLeft);
        // a CR LF shows as one line break; a non-negative number has a blank for its sign
        QTest::newRow("kind 2, 8002")
            << 2 << 0 << 8002 << "Error Code:  8002\n\nBad port" << int(Qt::AlignHCenter);
        QTest::newRow("kind 2, negative")
            << 2 << 1 << -5 << "Error Code: -5\n\nBad port" << int(Qt::AlignHCenter);
    }
    void kinds()
    {
        QFETCH(int, kind);
        QFETCH(int, button);
        QFETCH(int, number);
        QFETCH(QString, text);
        QFETCH(int, alignment);
        QStringList seen;
        answer(button, seen);
        const QString msg = QStringLiteral("Please select an active serial port\r\nSecond line");
        QCOMPARE(basicutilities::alert("Serial port error", msg, kind, {number, "Bad port"}),
                 button == 0);
        QCOMPARE(seen, QStringList({"Serial port error", text, QString::number(alignment)}));
    }

    // An unknown kind shows nothing; so does an alert asked for while one is open, as by a tick
    // inside it. News that must not be missed waits for the open alert instead.
    void oneAtATime()
    {
        {
            AlertCloser closer; // closes and records any alert that wrongly opens
            QVERIFY(!basicutilities::alert("t", "m", 3));
            QVERIFY(!basicutilities::alert("t", "m", -1));
            QCOMPARE(closer.titles(), QStringList());
        }
        QStringList seen;
        answer(1, seen, [](Z_alert *) {
            AlertCloser closer;
            QVERIFY(!basicutilities::alert("second", "two", 0));
            QCOMPARE(closer.titles(), QStringList());
        });
        QVERIFY(!basicutilities::alert("first", "one", 1));
        QCOMPARE(seen.value(1), QStringLiteral("one"));

        answer(0, seen, [](Z_alert *) {
            basicutilities::alertWhenFree("lost", QString(), 2, {8010, "gone"});
        });
        QVERIFY(basicutilities::alert("open", "one", 0));
        AlertCloser closer;
        QTRY_COMPARE(closer.titles(), QStringList{"lost"});
        QCOMPARE(closer.seen[0].text, QStringLiteral("Error Code:  8010\n\ngone"));
    }

    // A text too long for the box wraps, even an unbroken run, and scrolls to its end.
    void longText()
    {
        const QString words = QString("x").repeated(400) + QString(" word").repeated(400);
        QStringList seen;
        answer(0, seen, [](Z_alert *dialog) {
            QScrollBar *bar = dialog->message->verticalScrollBar();
            QTRY_VERIFY2(bar->maximum() > 0, "a long text gave no vertical scroll range");
            QCOMPARE(dialog->message->horizontalScrollBar()->maximum(), 0);
        });
        QVERIFY(basicutilities::alert("long", words, 1));
        QCOMPARE(seen.value(1), words);
    }

    // The notice's caption is wider than its button: it must be drawn on several lines.
    void scanningNotice()
    {
        RS232_portscanning notice;
        QCOMPARE(notice.Command1->text(),
                 QStringLiteral("Scanning for serial ports, please wait..."));
        notice.show();
        QVERIFY(QTest::qWaitForWindowExposed(&notice));
        const QImage drawn = notice.grab().toImage();
        const QRect inside = notice.Command1->geometry().adjusted(5, 5, -5, -5);
        int firstRow = -1, lastRow = -1;
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            const int face = drawn.pixelColor(inside.left(), y).lightness();
            for (int x = inside.left(); x <= inside.right(); ++x)
                if (face - drawn.pixelColor(x, y).lightness() > 100)
                    (firstRow < 0 ? firstRow : lastRow) = y;
        }
        QVERIFY(lastRow - firstRow > QFontMetrics(notice.Command1->font()).lineSpacing());
    }
};

QTEST_MAIN(tst_alert)
#include "tst_alert.moc"
