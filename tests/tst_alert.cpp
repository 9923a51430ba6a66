// Tests of the modal alert: its kinds, texts, answers and re-entrancy, and the scan notice.
#include "dialogs/rs232_portscanning.h"
#include "support/alertcloser.h"
#include "util/basicutilities.h"
#include "util/design.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include <functional>

using namespace chamber;

namespace {

// Arms a closer for the alert about to open: it notes the title, the text, the alignment of the
// text (0 when its paragraphs disagree) and the pump depth, runs extra, then clicks the real
// button (0 "OK", 1 "Cancel"). A check failing in extra still lets the alert be closed.
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
        seen = {dialog->windowTitle(), dialog->message->toPlainText(), QString::number(alignment),
                QString::number(basicutilities::pumpDepth())};
        extra(dialog);
        QTest::mouseClick(dialog->Command1[button], Qt::LeftButton);
    });
}

} // namespace

class tst_alert : public QObject
{
    Q_OBJECT

private slots:
    void kinds_data();
    void kinds();
    void noDialog();
    void longText();
    void scanningNotice();
};

void tst_alert::kinds_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("alignment");

    const QString msg = QStringLiteral("Please select an active serial port\nSecond line");
    const int centre = Qt::AlignHCenter, left = Qt::AlignLeft;
    QTest::newRow("kind 0, OK") << 0 << 0 << 8002 << msg << centre;
    QTest::newRow("kind 1, Cancel") << 1 << 1 << 8002 << msg << left;
    // a CR LF shows as one line break; a non-negative number has a blank for its sign
    QTest::newRow("kind 2, 8002") << 2 << 0 << 8002 << "Error Code:  8002\n\nBad port" << centre;
    QTest::newRow("kind 2, negative") << 2 << 1 << -5 << "Error Code: -5\n\nBad port" << centre;
    QTest::newRow("kind 2, no pending error") << 2 << 0 << 0 << "Error Code:  0\n\n" << centre;
}

void tst_alert::kinds()
{
    QFETCH(int, kind);
    QFETCH(int, button);
    QFETCH(int, number);
    QFETCH(QString, text);
    QFETCH(int, alignment);

    const ErrorRecord error{number, number ? QStringLiteral("Bad port") : QString()};
    QStringList seen;
    answer(button, seen);
    const QString msg = QStringLiteral("Please select an active serial port\r\nSecond line");
    QCOMPARE(basicutilities::alert(QStringLiteral("Serial port error"), msg, kind, error),
             button == 0);
    // the modal loop counts itself (depth 1), so closing the window inside it can end the program
    QCOMPARE(seen, QStringList({"Serial port error", text, QString::number(alignment), "1"}));
}

void tst_alert::noDialog()
{
    {
        AlertCloser closer; // closes and records any alert that wrongly opens
        QVERIFY(!basicutilities::alert(QStringLiteral("t"), QStringLiteral("m"), 3));
        QVERIFY(!basicutilities::alert(QStringLiteral("t"), QStringLiteral("m"), -1));
        QCOMPARE(closer.titles(), QStringList());
    }
    // asked for by a handler running inside the open alert, as a tick might
    QStringList seen;
    answer(1, seen, [](Z_alert *) {
        AlertCloser closer;
        QVERIFY(!basicutilities::alert(QStringLiteral("second"), QStringLiteral("two"), 0));
        QCOMPARE(closer.titles(), QStringList());
    });
    QVERIFY(!basicutilities::alert(QStringLiteral("first"), QStringLiteral("one"), 1));
    QCOMPARE(seen.value(1), QStringLiteral("one"));

    // news that must not be missed waits for the open alert instead, and then shows its report
    answer(0, seen, [](Z_alert *) {
        basicutilities::alertWhenFree(QStringLiteral("lost"), QString(), 2, {8010, "gone"});
    });
    QVERIFY(basicutilities::alert(QStringLiteral("open"), QStringLiteral("one"), 0));
    AlertCloser closer;
    QTRY_COMPARE(closer.titles(), QStringList{"lost"});
    QCOMPARE(closer.seen[0].text, QStringLiteral("Error Code:  8010\n\ngone"));
}

void tst_alert::longText()
{
    Z_alert fresh;
    QCOMPARE(fresh.size(), QSize(twips(4815, designDpi(&fresh)), twips(3120, designDpi(&fresh))));

    const QString words = QStringLiteral("x").repeated(400) + QStringLiteral(" word").repeated(400);
    QStringList seen;
    answer(0, seen, [&fresh](Z_alert *dialog) {
        QScrollBar *bar = dialog->message->verticalScrollBar();
        QTRY_VERIFY2(bar->maximum() > 0, "a long text gave no vertical scroll range");
        bar->setValue(bar->maximum());
        QCOMPARE(dialog->message->horizontalScrollBar()->maximum(), 0); // wrapped, even the x run
        QCOMPARE(dialog->Command1[0]->geometry(), fresh.Command1[0]->geometry());
        QCOMPARE(dialog->Command1[1]->geometry(), fresh.Command1[1]->geometry());
    });
    QVERIFY(basicutilities::alert(QStringLiteral("long"), words, 1));
    QCOMPARE(seen.value(1), words);
}

void tst_alert::scanningNotice()
{
    RS232_portscanning notice;
    QCOMPARE(notice.Command1->text(), QStringLiteral("Scanning for serial ports, please wait..."));
    notice.show();
    QVERIFY(QTest::qWaitForWindowExposed(&notice));

    // the caption is wider than the button: it must be drawn on several lines, not cut off
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

QTEST_MAIN(tst_alert)
#include "tst_alert.moc"
