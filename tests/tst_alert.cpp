// Tests of the modal alert: its kinds, texts, answers, re-entrancy and layout.
#include "dialogs/rs232_portscanning.h"
#include "dialogs/z_alert.h"
#include "util/basicutilities.h"
#include "util/design.h"

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <limits>

using namespace chamber;

namespace {

// What the operator saw of one alert.
struct Seen
{
    bool shown = false;
    bool modal = false;
    QString title;
    QString text;
    int blocks = 0;
    bool allaligned = true;
    Qt::Alignment alignment;
    int depth = 0;
};

// Counts every alert window that appears and closes any the test did not arm an answer for,
// so that a wrongly shown alert fails the test rather than hanging it.
class AlertWatcher : public QObject
{
public:
    int shows = 0;
    int armed = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *dialog = qobject_cast<Z_alert *>(watched)) {
                ++shows;
                if (armed > 0)
                    --armed;
                else
                    QTimer::singleShot(0, dialog, [dialog] { dialog->Command1[1]->click(); });
            }
        }
        return false;
    }
};

AlertWatcher watcher;

Seen look(Z_alert *dialog)
{
    Seen seen;
    seen.shown = dialog->isVisible();
    seen.modal = dialog->isModal() && QApplication::activeModalWidget() == dialog;
    seen.title = dialog->windowTitle();
    seen.text = dialog->message->toPlainText();
    seen.depth = basicutilities::pumpdepth();
    const QTextDocument *document = dialog->message->document();
    seen.blocks = document->blockCount();
    seen.alignment = document->begin().blockFormat().alignment() & Qt::AlignHorizontal_Mask;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if ((block.blockFormat().alignment() & Qt::AlignHorizontal_Mask) != seen.alignment)
            seen.allaligned = false;
    }
    return seen;
}

// Arms a closer for the alert about to open: it looks at the dialog, runs extra, then clicks
// the real button (0 "OK", 1 "Cancel").
void answer(int button, Seen &seen, const std::function<void(Z_alert *)> &extra = {})
{
    ++watcher.armed;
    QTimer::singleShot(0, qApp, [button, &seen, extra] {
        auto *dialog = qobject_cast<Z_alert *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen = look(dialog);
        if (extra)
            extra(dialog);
        QTest::mouseClick(dialog->Command1[button], Qt::LeftButton);
    });
}

// The next control in tab order, passing over what never takes the focus.
QWidget *nexttab(QWidget *widget)
{
    QWidget *next = widget->nextInFocusChain();
    while (next != widget && next->focusPolicy() == Qt::NoFocus)
        next = next->nextInFocusChain();
    return next;
}

// Before it is shown a window's frame is not known, so its centre may be off by the frame.
bool centred(const QRect &frame, const QRect &area)
{
    return (frame.center() - area.center()).manhattanLength() <= 8;
}

} // namespace

class tst_alert : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void kinds_data();
    void kinds();
    void errorreport_data();
    void errorreport();
    void unknownkinds();
    void alertwhileopen();
    void longtext();
    void layout();
    void placement();
    void scanningnotice();
};

void tst_alert::initTestCase()
{
    qApp->installEventFilter(&watcher);
}

void tst_alert::init()
{
    watcher.shows = 0;
    watcher.armed = 0;
    basicutilities::pendingerror() = ErrorRecord{};
}

void tst_alert::kinds_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<int>("alignment");

    QTest::newRow("kind 0, OK") << 0 << 0 << true << int(Qt::AlignHCenter);
    QTest::newRow("kind 0, Cancel") << 0 << 1 << false << int(Qt::AlignHCenter);
    QTest::newRow("kind 1, OK") << 1 << 0 << true << int(Qt::AlignLeft);
    QTest::newRow("kind 1, Cancel") << 1 << 1 << false << int(Qt::AlignLeft);
    QTest::newRow("kind 2, OK") << 2 << 0 << true << int(Qt::AlignHCenter);
    QTest::newRow("kind 2, Cancel") << 2 << 1 << false << int(Qt::AlignHCenter);
}

void tst_alert::kinds()
{
    QFETCH(int, kind);
    QFETCH(int, button);
    QFETCH(bool, expected);
    QFETCH(int, alignment);

    const QString msgtext = QStringLiteral("Please select an active serial port before attepmting "
                                           "to comunicate with your peripheral device!\r\nSecond");
    basicutilities::pendingerror() = ErrorRecord{8002, QStringLiteral("Invalid port number")};
    Seen seen;
    answer(button, seen);
    const bool result = basicutilities::alert(QStringLiteral("Serial port error"), msgtext, kind);

    QVERIFY(seen.shown);
    QVERIFY(seen.modal);
    QCOMPARE(watcher.shows, 1);
    QCOMPARE(result, expected);
    QCOMPARE(seen.title, QStringLiteral("Serial port error"));
    // the text box keeps a CR LF as one line break
    if (kind == 2) {
        QCOMPARE(seen.text, QStringLiteral("Error Code:  8002\n\nInvalid port number"));
        QCOMPARE(seen.blocks, 3);
    } else {
        QCOMPARE(seen.text, QStringLiteral("Please select an active serial port before attepmting "
                                           "to comunicate with your peripheral device!\nSecond"));
        QCOMPARE(seen.blocks, 2);
    }
    QCOMPARE(int(seen.alignment), alignment);
    QVERIFY2(seen.allaligned, "only part of the text was aligned");
    // the modal loop pumps events, and counts itself so the window can end the program in it
    QCOMPARE(seen.depth, 1);
    QCOMPARE(basicutilities::pumpdepth(), 0);
}

void tst_alert::errorreport_data()
{
    QTest::addColumn<qint32>("number");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("expected");

    QTest::newRow("port number 8002") << qint32(8002) << QStringLiteral("Invalid port number")
                                      << QStringLiteral("Error Code:  8002\n\nInvalid port number");
    QTest::newRow("no pending error")
        << qint32(0) << QString() << QStringLiteral("Error Code:  0\n\n");
    QTest::newRow("negative number") << qint32(-5) << QStringLiteral("Access denied")
                                     << QStringLiteral("Error Code: -5\n\nAccess denied");
    QTest::newRow("lowest 32-bit number")
        << std::numeric_limits<qint32>::min() << QStringLiteral("x")
        << QStringLiteral("Error Code: -2147483648\n\nx");
    QTest::newRow("highest 32-bit number") << std::numeric_limits<qint32>::max() << QString()
                                           << QStringLiteral("Error Code:  2147483647\n\n");
}

void tst_alert::errorreport()
{
    QFETCH(qint32, number);
    QFETCH(QString, description);
    QFETCH(QString, expected);

    basicutilities::pendingerror() = ErrorRecord{number, description};
    Seen seen;
    answer(0, seen);
    // kind 2 ignores the message it is given
    QVERIFY(basicutilities::alert(QStringLiteral("Com port error"), QStringLiteral("unused"), 2));
    QVERIFY(seen.shown);
    QCOMPARE(seen.title, QStringLiteral("Com port error"));
    QCOMPARE(seen.text, expected);
    QCOMPARE(seen.blocks, 3);
    QCOMPARE(int(seen.alignment), int(Qt::AlignHCenter));
    QVERIFY(seen.allaligned);
}

void tst_alert::unknownkinds()
{
    for (int kind : {3, -1, 32767, -32768}) {
        QVERIFY(!basicutilities::alert(QStringLiteral("t"), QStringLiteral("m"), kind));
        QCOMPARE(watcher.shows, 0);
    }
    QVERIFY(!QApplication::activeModalWidget());
}

void tst_alert::alertwhileopen()
{
    bool nestedresult = true;
    int showsinside = 0;
    int depthinside = 0;
    Seen seen;
    answer(0, seen, [&](Z_alert *) {
        // as a tick or a reply handler running inside the open alert would call it
        nestedresult =
            basicutilities::alert(QStringLiteral("Serial port error"), QStringLiteral("second"), 0);
        showsinside = watcher.shows;
        depthinside = basicutilities::pumpdepth();
    });
    const bool result = basicutilities::alert(QStringLiteral("first"), QStringLiteral("one"), 1);

    QVERIFY(result);
    QVERIFY(!nestedresult);
    QCOMPARE(showsinside, 1);
    QCOMPARE(depthinside, 1);
    QCOMPARE(seen.text, QStringLiteral("one"));

    // once it is closed, the next alert opens normally
    Seen after;
    answer(1, after);
    QVERIFY(!basicutilities::alert(QStringLiteral("again"), QStringLiteral("two"), 0));
    QVERIFY(after.shown);
    QCOMPARE(after.text, QStringLiteral("two"));
    QCOMPARE(watcher.shows, 2);

    // Escape is an answer too, and never an "OK"
    Seen escaped;
    ++watcher.armed;
    QTimer::singleShot(0, qApp, [&escaped] {
        if (auto *dialog = qobject_cast<Z_alert *>(QApplication::activeModalWidget())) {
            escaped = look(dialog);
            QTest::keyClick(dialog, Qt::Key_Escape);
        }
    });
    QVERIFY(!basicutilities::alert(QStringLiteral("escape"), QStringLiteral("three"), 1));
    QVERIFY(escaped.shown);
}

void tst_alert::longtext()
{
    QString words;
    for (int i = 0; i < 400; ++i)
        words += QStringLiteral("word%1 ").arg(i);
    words += QStringLiteral("x").repeated(400);

    QRect okdesign, canceldesign, okafter, cancelafter, boxafter;
    int verticalmax = -1, horizontalmax = -1;
    Seen seen;
    answer(0, seen, [&](Z_alert *dialog) {
        const qreal dpi = designdpi(dialog);
        okdesign = twipsrect(120, 2580, 975, 345, dpi);
        canceldesign = twipsrect(3720, 2580, 975, 345, dpi);
        okafter = dialog->Command1[0]->geometry();
        cancelafter = dialog->Command1[1]->geometry();
        boxafter = dialog->message->geometry();
        QTRY_VERIFY(dialog->message->verticalScrollBar()->maximum() > 0);
        verticalmax = dialog->message->verticalScrollBar()->maximum();
        horizontalmax = dialog->message->horizontalScrollBar()->maximum();
        // scrolling moves the text, not the dialog
        dialog->message->verticalScrollBar()->setValue(verticalmax);
        QCOMPARE(dialog->Command1[0]->geometry(), okafter);
    });
    QVERIFY(basicutilities::alert(QStringLiteral("long"), words, 1));
    QVERIFY(seen.shown);
    QCOMPARE(seen.text, words);
    QVERIFY2(verticalmax > 0, "a long text gave no vertical scroll range");
    QCOMPARE(horizontalmax, 0);
    QCOMPARE(okafter, okdesign);
    QCOMPARE(cancelafter, canceldesign);
    QVERIFY(boxafter.bottom() < okafter.top());
}

void tst_alert::layout()
{
    Z_alert dialog;
    const qreal dpi = designdpi(&dialog);

    QCOMPARE(dialog.windowTitle(), QStringLiteral(" "));
    QCOMPARE(dialog.size(), QSize(twips(4815, dpi), twips(3120, dpi)));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowCloseButtonHint));

    QCOMPARE(dialog.message->geometry(), twipsrect(120, 60, 4575, 2415, dpi));
    QCOMPARE(dialog.Command1[0]->geometry(), twipsrect(120, 2580, 975, 345, dpi));
    QCOMPARE(dialog.Command1[1]->geometry(), twipsrect(3720, 2580, 975, 345, dpi));
    QCOMPARE(dialog.respond->geometry(), twipsrect(360, 2580, 255, 195, dpi));
    QCOMPARE(dialog.Command1[0]->text(), QStringLiteral("OK"));
    QCOMPARE(dialog.Command1[1]->text(), QStringLiteral("Cancel"));
    QCOMPARE(dialog.Command1[0]->accessibleName(), QStringLiteral("OK"));
    QCOMPARE(dialog.Command1[1]->objectName(), QStringLiteral("Command1(1)"));

    QVERIFY(dialog.message->isReadOnly());
    QCOMPARE(dialog.message->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(dialog.message->font().bold());
    QCOMPARE(dialog.message->font().pointSizeF(), 8.25);
    QCOMPARE(dialog.message->palette().color(QPalette::Base),
             dialog.palette().color(QPalette::Button));
    QVERIFY(!dialog.respond->isChecked());

    // the result lies beneath "OK" and is never seen, even when the dialog is shown
    const QObjectList &children = dialog.children();
    QVERIFY(children.indexOf(dialog.respond) < children.indexOf(dialog.Command1[0]));
    ++watcher.armed;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(!dialog.respond->isVisible());
    QCOMPARE(nexttab(dialog.Command1[0]), dialog.Command1[1]);
    QCOMPARE(nexttab(dialog.Command1[1]), dialog.respond);
    QCOMPARE(nexttab(dialog.respond), dialog.message);

    // red triangle, white mark
    const QImage icon = dialog.windowIcon().pixmap(32, 32).toImage();
    QCOMPARE(icon.size(), QSize(32, 32));
    QCOMPARE(icon.pixelColor(16, 25), QColor(Qt::white));
    QCOMPARE(icon.pixelColor(8, 26), QColor(255, 0, 0));
    QCOMPARE(icon.pixelColor(1, 1).alpha(), 0);

    // the buttons answer even when clicked directly, and the last click decides
    QTest::mouseClick(dialog.Command1[0], Qt::LeftButton);
    QVERIFY(dialog.respond->isChecked());
    QVERIFY(!dialog.isVisible());
    ++watcher.armed;
    dialog.show();
    QTest::mouseClick(dialog.Command1[1], Qt::LeftButton);
    QVERIFY(!dialog.respond->isChecked());
    QVERIFY(!dialog.isVisible());
}

void tst_alert::placement()
{
    // with nothing else open, the alert is centred on the screen
    Seen seen;
    QRect frame;
    answer(0, seen, [&frame](Z_alert *dialog) { frame = dialog->frameGeometry(); });
    QVERIFY(basicutilities::alert(QStringLiteral("t"), QStringLiteral("m"), 1));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(centred(frame, screen));

    // with the program's window active, on that window
    QWidget owner;
    owner.setGeometry(20, 30, 700, 500);
    owner.show();
    owner.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&owner));
    answer(0, seen, [&frame](Z_alert *dialog) { frame = dialog->frameGeometry(); });
    QVERIFY(basicutilities::alert(QStringLiteral("t"), QStringLiteral("m"), 1));
    QVERIFY2(centred(frame, owner.frameGeometry()),
             qPrintable(QStringLiteral("alert at %1,%2 owner centre %3,%4")
                            .arg(frame.center().x())
                            .arg(frame.center().y())
                            .arg(owner.frameGeometry().center().x())
                            .arg(owner.frameGeometry().center().y())));
}

// The notice of the port scan belongs to the same shared windows: it needs no window manager,
// so it must size, place and draw itself.
void tst_alert::scanningnotice()
{
    RS232_portscanning notice;
    const qreal dpi = designdpi(&notice);
    const Qt::WindowFlags flags = notice.windowFlags();
    QVERIFY(flags & Qt::FramelessWindowHint);
    QCOMPARE(notice.windowType(), Qt::Tool);
    QCOMPARE(notice.size(), QSize(twips(2775, dpi), twips(975, dpi)));
    QCOMPARE(notice.Command1->geometry(), twipsrect(60, 60, 2655, 855, dpi));
    QCOMPARE(notice.Command1->text(), QStringLiteral("Scanning for serial ports, please wait..."));
    QVERIFY(notice.Command1->font().bold());
    QCOMPARE(notice.Command1->font().pointSizeF(), 12.0);
    QVERIFY(centred(notice.frameGeometry(), QGuiApplication::primaryScreen()->availableGeometry()));

    // the caption is wider than the button: it must wrap within it rather than be cut off
    const QFontMetrics metrics(notice.Command1->font());
    const QRect button = notice.Command1->rect();
    const QRect needed =
        metrics.boundingRect(button, Qt::AlignCenter | Qt::TextWordWrap, notice.Command1->text());
    QVERIFY2(
        needed.height() <= button.height(),
        qPrintable(
            QStringLiteral("caption needs %1 px of %2").arg(needed.height()).arg(button.height())));

    notice.show();
    QVERIFY(QTest::qWaitForWindowExposed(&notice));
    const QImage drawn = notice.grab().toImage();
    // dark ink on the face, row by row, inside the button's bevel
    const QRect inside = notice.Command1->geometry().adjusted(5, 5, -5, -5);
    int inked = 0;
    int firstrow = -1;
    int lastrow = -1;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const int face = drawn.pixelColor(inside.left(), y).lightness();
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (face - drawn.pixelColor(x, y).lightness() > 100) {
                ++inked;
                lastrow = y;
                if (firstrow < 0)
                    firstrow = y;
            }
        }
    }
    QVERIFY2(inked > 200, "the caption was not drawn");
    if (needed.height() > metrics.lineSpacing())
        QVERIFY2(lastrow - firstrow > metrics.lineSpacing(),
                 qPrintable(
                     QStringLiteral("caption drawn on rows %1 to %2").arg(firstrow).arg(lastrow)));

    // clicking it does nothing: the notice stays until the scan hides it
    QTest::mouseClick(notice.Command1, Qt::LeftButton);
    QVERIFY(notice.isVisible());
}

QTEST_MAIN(tst_alert)
#include "tst_alert.moc"
