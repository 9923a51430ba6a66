// The trend in the window's lower band: what it receives, where it sits, its view and its menu.
#include "link/frames.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"
#include "trend/trendplot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace chamber;

namespace {

QList<double> values(const QCPGraph *graph)
{
    QList<double> list;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        list << it->value;
    return list;
}

// The entries of the right-click menu that a context menu event on widget opens.
QStringList menuEntries(QWidget *widget)
{
    QStringList entries;
    QTimer::singleShot(0, [&] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            for (QAction *action : menu->actions())
                entries << action->text();
            menu->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            widget->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(widget, &event);
    return entries;
}

} // namespace

class tst_trend : public QObject
{
    Q_OBJECT
private slots:
    void trend();
};

void tst_trend::trend()
{
    AlertCloser alerts;
    FakeSerialLink fake;
    fake.present = {"COM3"};
    int tenths = 230;
    fake.answer = [&](const QByteArray &frame) {
        const QByteArray reply = QByteArray::fromHex("010302") + char(tenths >> 8) + char(tenths);
        fake.feed(frame.at(1) == 3 ? reply + calccrc(reply) : frame);
        tenths += 5;
    };
    chamber::main w(&fake);
    control<QTimer>(w, "Timer1")->stop();
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *plot = control<TrendPlot>(w, "trend");
    QCOMPARE(plot->accessibleName(), "Temperature trend");
    QVERIFY(!plot->accessibleDescription().isEmpty());

    // The band below the rule is the plot's alone.
    const int bandTop = qRound(4800 * w.logicalDpiY() / 1440.0);
    QVERIFY(plot->geometry().top() > bandTop && plot->geometry().bottom() < w.height());
    for (QWidget *child : w.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (child != plot && child->isVisible())
            QVERIFY2(child->geometry().bottom() < bandTop, qPrintable(child->objectName()));

    // Every reading decoded, at the time it came.
    control<QComboBox>(w, "portselect")->setCurrentIndex(1);
    control<QCheckBox>(w, "autoread")->setChecked(true);
    const double before = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    for (int i = 0; i < 4; ++i)
        w.Timer1_Timer();
    const double after = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    QCOMPARE(values(plot->readings()), QList<double>({23.0, 23.5, 24.0, 24.5}));
    QVERIFY(plot->readings()->data()->constBegin()->key >= before);
    QVERIFY((plot->readings()->data()->constEnd() - 1)->key <= after);
    control<QCheckBox>(w, "autoread")->setChecked(false);

    // Setpoints as sent; one refused for want of a port is not.
    control<QLineEdit>(w, "setpoint")->setText("60.0");
    QTest::mouseClick(control<QPushButton>(w, "Command1(0)"), Qt::LeftButton);
    QCOMPARE(values(plot->setpoints()).last(), 60.0);
    control<QComboBox>(w, "portselect")->setCurrentIndex(0);
    control<QLineEdit>(w, "setpoint")->setText("70.0");
    QTest::mouseClick(control<QPushButton>(w, "Command1(0)"), Qt::LeftButton);
    QTRY_COMPARE(alerts.titles(), QStringList{"Serial port error"});
    QVERIFY(!values(plot->setpoints()).contains(70.0));

    // A run: its approach setpoint, its phase as a band and a mark for its first cycle.
    control<QComboBox>(w, "portselect")->setCurrentIndex(1);
    control<QCheckBox>(w, "cyclerun")->setChecked(true);
    w.Timer1_Timer();
    QCOMPARE(values(plot->setpoints()).last(), 75.0);
    QCOMPARE(values(plot->phaseBand("Heat")).last(), 1.0);
    QCOMPARE(values(plot->cycleMarks()), QList<double>{1.0});
    control<QCheckBox>(w, "cyclerun")->setChecked(false);
    QCOMPARE(values(plot->setpoints()).last(), 25.0);
    QCOMPARE(values(plot->phaseBand("Heat")).last(), 0.0);

    // Live, the view ends at the newest data; dragging leaves it, a double-click comes back.
    const double latest = (plot->readings()->data()->constEnd() - 1)->key;
    QVERIFY(plot->isLive());
    QVERIFY(plot->xAxis->range().upper >= latest);
    QCOMPARE(plot->xAxis->range().size(), TrendPlot::liveSpanSeconds);
    const QPoint middle = plot->rect().center();
    QTest::mousePress(plot, Qt::LeftButton, {}, middle);
    QMouseEvent move(QEvent::MouseMove, middle + QPoint(150, 0), plot->mapToGlobal(middle),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(plot, &move);
    QTest::mouseRelease(plot, Qt::LeftButton, {}, middle + QPoint(150, 0));
    QVERIFY(!plot->isLive());
    QVERIFY(plot->xAxis->range().upper < latest);
    QTest::mouseDClick(plot, Qt::LeftButton, {}, middle);
    QVERIFY(plot->isLive());
    QVERIFY(plot->xAxis->range().upper >= latest);

    // One menu for the window's background and the plot.
    const QStringList entries = {"Save plot as PNG…", "Save plot as PDF…", "",
                                 "Open run records folder"};
    QCOMPARE(menuEntries(plot), entries);
    QCOMPARE(menuEntries(&w), entries);
}

QTEST_MAIN(tst_trend)
#include "tst_trend.moc"
