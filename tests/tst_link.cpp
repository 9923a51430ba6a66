// The window's link to the controller: port choice, sending, pausing and decoding replies.
#include "link/qtseriallink.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"
#include "support/pty.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

using namespace chamber;

namespace {

const QByteArray readTempFrame = QByteArray::fromHex("010300640001c5d5");
const QByteArray reply250 = QByteArray::fromHex("01030200fa3807");
const char *noPortMessage = "Please select an active serial port before attepmting to comunicate "
                            "with your peripheral device!";

// A window whose scan found the given ports, with the tick stopped so a test decides what is sent.
struct Bench
{
    explicit Bench(const QStringList &ports)
    {
        fake.present = QSet<QString>(ports.begin(), ports.end());
        window.Form_Load();
        control<QTimer>(window, "Timer1")->stop();
        window.show();
        fake.calls.clear();
    }
    QComboBox *ports() { return control<QComboBox>(window, "portselect"); }
    QLineEdit *field(const char *name) { return control<QLineEdit>(window, QLatin1String(name)); }
    QCheckBox *box(const char *name) { return control<QCheckBox>(window, QLatin1String(name)); }
    QPushButton *button(int index)
    {
        return control<QPushButton>(window, QStringLiteral("Command1(%1)").arg(index));
    }

    FakeSerialLink fake;
    chamber::main window{&fake};
};

} // namespace

class tst_link : public QObject
{
    Q_OBJECT
private slots:
    void commandsWithoutPort();
    void choosingPorts();
    void failedOpen();
    void sendingPauses();
    void decoding();
    void vanishedPort();
    void realPseudoTerminal();
};

void tst_link::commandsWithoutPort()
{
    Bench bench({"COM1"});
    AlertCloser alerts;
    QTest::mouseClick(bench.button(1), Qt::LeftButton);
    QTest::mouseClick(bench.button(0), Qt::LeftButton);
    QCOMPARE(alerts.seen.size(), 2);
    for (const AlertCloser::Seen &alert : alerts.seen) {
        QCOMPARE(alert.title, QStringLiteral("Serial port error"));
        QCOMPARE(alert.text, QLatin1String(noPortMessage));
    }
    QVERIFY(bench.fake.calls.isEmpty());
}

void tst_link::choosingPorts()
{
    Bench bench({"COM3", "COM12"});
    auto *run = bench.box("cyclerun");
    bench.ports()->setCurrentIndex(2);
    QCOMPARE(bench.fake.calls, (QStringList{"close", "open COM12 9600,n,8,1"}));
    QCOMPARE(bench.fake.openPort, QStringLiteral("COM12"));
    QVERIFY(run->isEnabled());

    // another port closes the first before opening
    bench.fake.calls.clear();
    bench.ports()->setCurrentIndex(1);
    QCOMPARE(bench.fake.calls, (QStringList{"close", "open COM3 9600,n,8,1"}));

    bench.fake.calls.clear();
    bench.ports()->setCurrentIndex(0);
    QCOMPARE(bench.fake.calls, QStringList{"close"});
    QVERIFY(bench.fake.openPort.isEmpty());
    QVERIFY(!run->isEnabled());

    // Typed characters choose nothing, the list closed or open, and neither does the wheel; the
    // arrows and Enter in the open list do.
    bench.fake.calls.clear();
    QComboBox *ports = bench.ports();
    ports->setFocus();
    QTest::keyClicks(ports, "COM3c");
    QTest::keyClick(ports, Qt::Key_End);
    QWheelEvent wheel(QPointF(5, 5), ports->mapToGlobal(QPointF(5, 5)), {}, {0, -120}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(ports, &wheel);
    QCOMPARE(ports->currentIndex(), 0);
    ports->showPopup();
    QTRY_VERIFY(ports->view()->isVisible());
    QTest::keyClicks(ports->view(), "C");
    QTest::keyClick(ports->view(), Qt::Key_Return);
    QCOMPARE(ports->currentIndex(), 0);
    QVERIFY(bench.fake.calls.isEmpty());
    QTest::keyClick(ports, Qt::Key_Down); // opens the list rather than the next port
    QTRY_VERIFY(ports->view()->isVisible());
    QCOMPARE(ports->currentIndex(), 0);
    QTest::keyClick(ports->view(), Qt::Key_Down);
    QTest::keyClick(ports->view(), Qt::Key_Return);
    QCOMPARE(bench.fake.openPort, QStringLiteral("COM3"));
}

void tst_link::failedOpen()
{
    Bench bench({"COM3", "COM5"});
    bench.fake.present.remove("COM5"); // unplugged after the scan
    AlertCloser alerts;
    bench.ports()->setCurrentIndex(2);
    QCOMPARE(alerts.seen.size(), 1);
    QCOMPARE(alerts.seen[0].title, QStringLiteral("Com port error"));
    QVERIFY2(alerts.seen[0].text.startsWith("Error Code:  8002"), qPrintable(alerts.seen[0].text));
    QVERIFY(alerts.seen[0].text.endsWith("Invalid port number"));
    QCOMPARE(bench.ports()->currentIndex(), 0);
    QVERIFY(bench.fake.openPort.isEmpty());
    QCOMPARE(bench.fake.calls.last(), QStringLiteral("close"));
    QVERIFY(!bench.box("cyclerun")->isEnabled());

    // with no port ready, commands still refuse
    QTest::mouseClick(bench.button(1), Qt::LeftButton);
    QCOMPARE(alerts.titles().last(), QStringLiteral("Serial port error"));
}

void tst_link::sendingPauses()
{
    Bench bench({"COM1"});
    bench.ports()->setCurrentIndex(1);
    bench.fake.calls.clear();

    // one frame per command, and the click returns only after the pause, with events running in it
    bool ranDuringPause = false;
    QTimer::singleShot(0, [&] { ranDuringPause = true; });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(bench.button(1), Qt::LeftButton);
    QVERIFY(clock.elapsed() >= 50);
    QVERIFY(ranDuringPause);
    QCOMPARE(bench.fake.sent, QList<QByteArray>{readTempFrame});

    bench.fake.sent.clear();
    bench.field("setpoint")->setText("80.5");
    QTest::mouseClick(bench.button(0), Qt::LeftButton);
    QCOMPARE(bench.fake.sent, QList<QByteArray>{QByteArray::fromHex("0106012c032588d4")});

    // Auto polls once a tick
    bench.fake.sent.clear();
    bench.box("autoread")->setChecked(true);
    for (int i = 0; i < 4; ++i)
        bench.window.Timer1_Timer();
    QCOMPARE(bench.fake.sent, QList<QByteArray>(4, readTempFrame));
    bench.box("autoread")->setChecked(false);
    bench.window.Timer1_Timer();
    QCOMPARE(bench.fake.sent.size(), 4);
}

void tst_link::decoding()
{
    Bench bench({"COM1"});
    bench.ports()->setCurrentIndex(1);
    auto *temperature = bench.field("currenttemp");
    auto *errors = bench.field("errorcount");
    auto *indicator = bench.box("autosamples");

    // a reply in pieces shows only when whole, and flips the indicator
    bench.fake.feed(reply250.left(3));
    QCOMPARE(temperature->text(), QStringLiteral("0.0"));
    bench.fake.feed(reply250.mid(3));
    QCOMPARE(temperature->text(), QStringLiteral("25.0"));
    QVERIFY(indicator->isChecked());

    // behind noise, byte by byte
    bench.fake.feed(QByteArray::fromHex("ff") + QByteArray::fromHex("0103020100b9d4"), 1);
    QCOMPARE(temperature->text(), QStringLiteral("25.6"));
    QVERIFY(!indicator->isChecked());

    // a bad CRC counts and changes nothing else
    bench.fake.feed(QByteArray::fromHex("01030200fa3808"));
    QCOMPARE(errors->text(), QStringLiteral("1"));
    QCOMPARE(temperature->text(), QStringLiteral("25.6"));
    QVERIFY(!indicator->isChecked());

    // the echo of a setpoint shows nothing; an exception reply counts
    bench.fake.feed(QByteArray::fromHex("0106012c00fac9bc"));
    QCOMPARE(errors->text(), QStringLiteral("1"));
    bench.fake.feed(QByteArray::fromHex("018603") + QByteArray::fromHex("0261"));
    QCOMPARE(errors->text(), QStringLiteral("2"));

    // below zero in two's complement
    bench.fake.feed(QByteArray::fromHex("010302ff9cf9dd"));
    QCOMPARE(temperature->text(), QStringLiteral("-10.0"));
}

void tst_link::vanishedPort()
{
    Bench bench({"COM1"});
    bench.ports()->setCurrentIndex(1);
    bench.box("autoread")->setChecked(true);
    AlertCloser alerts;
    bench.fake.lose("Resource error: device removed");
    QCOMPARE(alerts.titles(), QStringList{"Com port error"});
    QVERIFY(alerts.seen[0].text.endsWith("device removed"));
    QCOMPARE(bench.ports()->currentIndex(), 0);
    QVERIFY(!bench.box("cyclerun")->isEnabled());
    QVERIFY(bench.fake.openPort.isEmpty());

    // polling stops quietly instead of raising an alert on every tick
    bench.fake.calls.clear();
    for (int i = 0; i < 4; ++i)
        bench.window.Timer1_Timer();
    QVERIFY(bench.fake.calls.isEmpty());
    QCOMPARE(alerts.seen.size(), 1);

    // and the port can be chosen again
    bench.ports()->setCurrentIndex(1);
    QCOMPARE(bench.fake.openPort, QStringLiteral("COM1"));
    QVERIFY(bench.box("cyclerun")->isEnabled());
}

void tst_link::realPseudoTerminal()
{
#ifdef _WIN32
    QSKIP("pseudo-terminals are POSIX only");
#else
    // COM1 is the ports folder's link to the peer, as the simulator publishes it; one more peer
    // sits in the device folder as ttyS0 and so takes COM2.
    Pty line(1), other;
    QTemporaryDir devRoot;
    QVERIFY(line.isValid() && other.isValid() && other.publish(devRoot.filePath("ttyS0")));
    qputenv("CHAMBERCTL_PORTS", line.portsDir().toLocal8Bit());
    QtSerialLink link(nullptr, devRoot.path());
    chamber::main window(&link);
    window.Form_Load();
    control<QTimer>(window, "Timer1")->stop();
    auto *ports = control<QComboBox>(window, "portselect");
    auto *readTemp = control<QPushButton>(window, "Command1(1)");
    QCOMPARE(ports->count(), 3);
    QCOMPARE(ports->itemText(1) + ports->itemText(2), QStringLiteral("COM1COM2"));
    ports->setCurrentIndex(1);

    // the peer answers the poll, in two pieces
    QTest::mouseClick(readTemp, Qt::LeftButton);
    QCOMPARE(line.readCount(8, 2000), readTempFrame);
    QVERIFY(line.write(QByteArray::fromHex("0103")));
    QVERIFY(line.write(QByteArray::fromHex("020131") + QByteArray::fromHex("7800")));
    QTRY_COMPARE(control<QLineEdit>(window, "currenttemp")->text(), QStringLiteral("30.5"));

    // The peer ends and takes its link with it. COM1 chosen again must fail, not open the device
    // that would have its number now.
    AlertCloser alerts;
    line.closeMaster();
    QTRY_COMPARE(alerts.titles(), QStringList{"Com port error"});
    QVERIFY(QFile::remove(line.portsDir() + "/COM1"));
    ports->setCurrentIndex(1);
    QCOMPARE(alerts.titles(), QStringList({"Com port error", "Com port error"}));
    QVERIFY2(alerts.seen[1].text.startsWith("Error Code:  8002"), qPrintable(alerts.seen[1].text));
    QCOMPARE(ports->currentIndex(), 0);
    QTest::mouseClick(readTemp, Qt::LeftButton);
    QCOMPARE(alerts.titles().last(), QStringLiteral("Serial port error"));
    QCOMPARE(other.readAvailable(100), QByteArray());

    // a peer published again under the name, as a replugged adapter, opens without a restart
    Pty replugged;
    QVERIFY(replugged.publish(line.portsDir() + "/COM1"));
    ports->setCurrentIndex(1);
    QVERIFY(control<QCheckBox>(window, "cyclerun")->isEnabled());
    QTest::mouseClick(readTemp, Qt::LeftButton);
    QCOMPARE(replugged.readCount(8, 2000), readTempFrame);
    QCOMPARE(alerts.seen.size(), 3);
    qunsetenv("CHAMBERCTL_PORTS");
#endif
}

QTEST_MAIN(tst_link)
#include "tst_link.moc"
