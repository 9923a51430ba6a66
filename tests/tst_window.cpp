// The main window as it opens: controls, texts, states, order, diagram; and the start-up scan.
#include "dialogs/rs232_portscanning.h"
#include "main/main.h"
#include "support/control.h"
#include "support/fakeseriallink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace chamber;

namespace {

// Records, at every open, whether the scan notice was on screen.
class ScanWatch : public FakeSerialLink
{
public:
    using FakeSerialLink::FakeSerialLink;
    bool OpenPort(const QString &port, const QString &settings) override
    {
        bool shown = false;
        for (QWidget *top : QApplication::topLevelWidgets())
            shown |= qobject_cast<RS232_portscanning *>(top) && top->isVisible();
        noticeShown << shown;
        return FakeSerialLink::OpenPort(port, settings);
    }
    QList<bool> noticeShown;
};

QStringList items(const QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

} // namespace

class tst_window : public QObject
{
    Q_OBJECT
private slots:
    void initialState();
    void tabOrderAndFocus();
    void diagram();
    void scan_data();
    void scan();
};

void tst_window::initialState()
{
    FakeSerialLink fake;
    chamber::main w(&fake);
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QCOMPARE(w.windowTitle(), QStringLiteral("Temperature controller"));
    const QList<std::pair<const char *, const char *>> texts = {
        {"setpoint", "25.0"},     {"currenttemp", "0.0"},
        {"errorcount", "0"},      {"setpoints(0)", "75.0"},
        {"setpoints(1)", "25.0"}, {"setpoints(2)", "35.0"},
        {"setpoints(3)", "25.0"}, {"dwells(0)", "5"},
        {"dwells(1)", "5"},       {"dwells(2)", "5"},
        {"dwells(3)", "5"},       {"cycles(0)", "1"},
        {"cycles(1)", "0"},       {"cyclemode", "Hold"},
        {"countdown", "0"},       {"tmult", "1"}};
    for (const auto &[name, text] : texts) {
        auto *edit = control<QLineEdit>(w, QLatin1String(name));
        QCOMPARE(edit->text(), QLatin1String(text));
        QCOMPARE(edit->alignment(), Qt::AlignCenter);
        const bool locked =
            QList<QByteArray>{"errorcount", "cycles(1)", "cyclemode", "countdown"}.contains(name);
        QVERIFY2(edit->isReadOnly() == locked, name);
        QVERIFY2(edit->isEnabled(), name);
        // every control shares the window's 12 pt bold face
        QCOMPARE(edit->font().pointSizeF(), 12.0);
        QVERIFY(edit->font().bold());
    }
    QVERIFY(!control<QLineEdit>(w, "tmult")->isVisible());
    QCOMPARE(control<QLineEdit>(w, "cycles(0)")->maxLength(), 3);
    for (const char *name : {"setpoint", "setpoints(0)", "dwells(0)", "cycles(1)"})
        QCOMPARE(control<QLineEdit>(w, QLatin1String(name))->maxLength(), 32767);

    QCOMPARE(control<QPushButton>(w, "Command1(0)")->text(), QStringLiteral("Set Temp"));
    QCOMPARE(control<QPushButton>(w, "Command1(1)")->text(), QStringLiteral("Read Temp"));
    // a dwell counts seconds, and its caption and spoken name must say so
    QCOMPARE(control<QLabel>(w, "Label1(0)")->text(), QStringLiteral("Dwells - Seconds"));
    QCOMPARE(control<QLabel>(w, "Label1(0)")->accessibleName(), QStringLiteral("Dwells - Seconds"));
    QCOMPARE(control<QLabel>(w, "Label1(1)")->text(), QStringLiteral("Setpoints - DegC"));
    QCOMPARE(control<QLabel>(w, "Label1(2)")->text(), QStringLiteral("Cycles"));
    QCOMPARE(control<QLabel>(w, "Label1(3)")->text(), QStringLiteral("Errors"));

    for (const char *name :
         {"autoread", "cyclerun", "rampenable(0)", "rampenable(1)", "autosamples"})
        QVERIFY2(!control<QCheckBox>(w, QLatin1String(name))->isChecked(), name);
    QCOMPARE(control<QCheckBox>(w, "autoread")->text(), QStringLiteral("Auto"));
    QCOMPARE(control<QCheckBox>(w, "cyclerun")->text(), QStringLiteral("Run"));
    // the only disabled controls at start
    QVERIFY(!control<QCheckBox>(w, "cyclerun")->isEnabled());
    QVERIFY(!control<QCheckBox>(w, "autosamples")->isEnabled());
    QVERIFY(control<QCheckBox>(w, "autoread")->isEnabled());
    QVERIFY(control<QComboBox>(w, "portselect")->isEnabled());

    // names for automation and screen readers
    auto *point = control<QLineEdit>(w, "setpoints(2)");
    QCOMPARE(point->accessibleDescription(), QStringLiteral("setpoints(2)"));
    QCOMPARE(point->accessibleName(), QStringLiteral("Setpoint 3, degrees C"));
    QCOMPARE(control<QPushButton>(w, "Command1(0)")->accessibleName(), QStringLiteral("Set Temp"));

    auto *timer = control<QTimer>(w, "Timer1");
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 250);

    // positions in twips, at the screen's dpi; resizing moves nothing
    const qreal dpi = w.logicalDpiX();
    auto px = [dpi](int value) { return qRound(value * dpi / 1440); };
    QCOMPARE(w.size(), QSize(px(7935), px(8085)));
    const QList<std::pair<const char *, QRect>> places = {
        {"Command1(1)", {1800, 60, 1635, 435}},   {"portselect", {6000, 540, 1815, 420}},
        {"setpoints(3)", {6360, 1620, 975, 375}}, {"rampenable(1)", {7380, 1680, 255, 300}},
        {"countdown", {6600, 4260, 1215, 375}},   {"Label1(0)", {120, 3840, 3135, 315}}};
    for (const auto &[name, twips] : places) {
        const QRect expected(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height()));
        QCOMPARE(control(w, QLatin1String(name))->geometry(), expected);
    }
    w.resize(w.width() + 200, w.height() - 100);
    QTRY_COMPARE(w.width(), px(7935) + 200);
    QCOMPARE(control(w, "countdown")->geometry(), QRect(px(6600), px(4260), px(1215), px(375)));
}

void tst_window::tabOrderAndFocus()
{
    FakeSerialLink fake;
    chamber::main w(&fake);
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), control<QWidget>(w, "Command1(0)"));

    const QStringList expected = {"setpoint",     "Command1(1)",  "portselect",    "currenttemp",
                                  "autoread",     "errorcount",   "dwells(0)",     "dwells(1)",
                                  "dwells(2)",    "dwells(3)",    "setpoints(0)",  "setpoints(1)",
                                  "setpoints(2)", "setpoints(3)", "rampenable(0)", "rampenable(1)",
                                  "cycles(0)",    "cycles(1)",    "countdown",     "cyclemode",
                                  "Command1(0)"};
    QStringList visited;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, expected);
}

void tst_window::diagram()
{
    FakeSerialLink fake;
    chamber::main w(&fake);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QImage image = w.grab().toImage();
    const qreal dpi = w.logicalDpiX();
    auto px = [dpi](int value) { return qRound(value * dpi / 1440); };
    auto dark = [&image](int x, int y) { return qGray(image.pixel(x, y)) < 100; };
    // a rule across the window, the high dwell of point 1, a leader, and empty space between
    QVERIFY(dark(px(3300), px(1140)));
    QVERIFY(dark(px(1500), px(2340)));
    QVERIFY(dark(px(1560), px(3000)));
    QVERIFY(dark(px(3500), px(3060)));
    QVERIFY(!dark(px(1500), px(2700)));
    QVERIFY(!dark(px(5000), px(6000)));
}

void tst_window::scan_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("no port at all") << QStringList{} << QStringList{"Select"};
    QTest::newRow("COM1 and COM12")
        << QStringList{"COM12", "COM1"} << QStringList{"Select", "COM1", "COM12"};
    QTest::newRow("COM3 and COM7 in number order")
        << QStringList{"COM7", "COM3"} << QStringList{"Select", "COM3", "COM7"};
    QTest::newRow("ports beyond the ninth and the last")
        << QStringList{"COM99", "COM10", "COM100", "COM0"}
        << QStringList{"Select", "COM10", "COM99"};
}

void tst_window::scan()
{
    QFETCH(QStringList, present);
    QFETCH(QStringList, listed);
    ScanWatch fake;
    fake.present = QSet<QString>(present.begin(), present.end());
    chamber::main w(&fake);
    w.Form_Load();

    auto *ports = control<QComboBox>(w, "portselect");
    QCOMPARE(items(ports), listed);
    QCOMPARE(ports->currentIndex(), 0);

    // every name from COM1 to COM99 is tried as close, open, close; none stays open
    QStringList expected;
    for (int i = 1; i <= 99; ++i)
        expected << "close" << QStringLiteral("open COM%1 9600,n,8,1").arg(i) << "close";
    QCOMPARE(fake.calls, expected);
    QVERIFY(fake.openPort.isEmpty());
    QCOMPARE(fake.noticeShown.count(true), 99);
    for (QWidget *top : QApplication::topLevelWidgets())
        QVERIFY(!(qobject_cast<RS232_portscanning *>(top) && top->isVisible()));

    // choosing "Select" with nothing open talks to no port
    fake.calls.clear();
    ports->setCurrentIndex(ports->count() - 1);
    ports->setCurrentIndex(0);
    QCOMPARE(fake.calls.count(QStringLiteral("close")), listed.size() > 1 ? 2 : 0);
}

QTEST_MAIN(tst_window)
#include "tst_window.moc"
