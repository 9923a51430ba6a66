// The modal alert: its kinds, texts and answers, one at a time; and the scan notice.
#include "dialogs/rs232_portscanning.h"
#include "support/alertcloser.h"
#include "util/basicutilities.h"

#include <QTextBlock>

using namespace chamber;

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

class tst_alert : public QObject
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
        QVERIFY(basicutilities::alert("Serial port error", msg, 0));
        closer.button = 1;
        QVERIFY(!basicutilities::alert("t", msg, 1));
        QVERIFY(!basicutilities::alert("t", msg, 2, {-5, "Bad port"}));
        QCOMPARE(closer.titles().value(0), QStringLiteral("Serial port error"));
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
        QVERIFY(!basicutilities::alert("t", "m", 3));
        QVERIFY(!basicutilities::alert("t", "m", -1));
        closer.inside = [](Z_alert *) {
            AlertCloser nested; // closes and records any alert that wrongly opens
            QVERIFY(!basicutilities::alert("second", "two", 0));
            QCOMPARE(nested.titles(), QStringList());
            basicutilities::alertWhenFree("lost", QString(), 2, {8010, "gone"});
        };
        QVERIFY(basicutilities::alert("first", "one", 0));
        closer.inside = nullptr;
        QTRY_COMPARE(closer.titles(), QStringList({"first", "lost"}));
        QCOMPARE(closer.seen[1].text, QStringLiteral("Error Code:  8010\n\ngone"));
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
