// The main window: the start-up scan, the numeric fields, the choice of port, commands and the
// replies they bring, and a COM name that keeps the pseudo-terminal the scan gave it.
#include "link/qtseriallink.h"
#include "support/pty.h"
#include "support/windowrig.h"

using namespace chamber;

namespace {

const QByteArray readTempFrame = QByteArray::fromHex("010300640001c5d5");

} // namespace

class tst_window : public QObject
{
    Q_OBJECT
private slots:
    // Every numeric field takes digits and points only, whatever the modifiers and also from an
    // input method; editing keys and shortcuts work as usual, and nothing is sent.
    void keys()
    {
        WindowRig rig;
        for (const char *name :
             {"setpoint", "setpoints(0)", "setpoints(1)", "setpoints(2)", "setpoints(3)",
              "dwells(0)", "dwells(1)", "dwells(2)", "dwells(3)", "cycles(0)", "cycles(1)"}) {
            QLineEdit *edit = rig.field(name);
            edit->setReadOnly(false); // the counter is locked; its filter is the same
            edit->setFocus();
            edit->clear();
            QTest::keyClicks(edit, "a-+,/: 0x9.5");
            // the cycles to run take three characters at most
            QCOMPARE(edit->text(), QString(name) == "cycles(0)" ? "09." : "09.5");
        }
        QLineEdit *point = rig.field("setpoints(0)");
        point->setFocus();
        point->setText("75.0");
        for (const Qt::Key key : {Qt::Key_Backspace, Qt::Key_Home, Qt::Key_Delete, Qt::Key_Right})
            QTest::keyClick(point, key);
        QTest::keyClicks(point, "7");
        QTest::keyClick(point, Qt::Key_End);
        // AltGr arrives as Ctrl+Alt on Windows
        for (const QString typed : {"@", "\u20ac", "{", "5"}) {
            QKeyEvent altGr(QEvent::KeyPress, Qt::Key_unknown,
                            Qt::ControlModifier | Qt::AltModifier, typed);
            QApplication::sendEvent(point, &altGr);
        }
        for (const QString committed : {"abc", "1x"}) {
            QInputMethodEvent input;
            input.setCommitString(committed);
            QApplication::sendEvent(point, &input);
        }
        QCOMPARE(point->text(), QStringLiteral("57.51"));
        QTest::keyClick(point, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(point, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(point->text(), QString());
        QTest::keyClick(point, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(point->text(), QStringLiteral("57.51"));
        QTest::keyClick(point, Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != point);
        QCOMPARE(rig.fake.calls, QStringList());
        // the dwells count seconds, and their caption must say so
        QCOMPARE(control<QLabel>(rig.window, "Label1(0)")->text(), "Dwells - Seconds");
    }

    void normalising_data()
    {
        // the field, what is typed into it emptied, Enter or Tab, and what it shows then
        QTest::addColumn<QStringList>("row");
        QTest::newRow("by hand, no limit") << QStringList{"setpoint", "200", "Enter", "200.0"};
        QTest::newRow("profile, limited") << QStringList{"setpoints(0)", "200", "Tab", "175.0"};
        QTest::newRow("175.05 is over") << QStringList{"setpoints(1)", "175.05", "Enter", "175.0"};
        QTest::newRow("0.15 is not 0.1") << QStringList{"setpoints(2)", "0.15", "Tab", "0.2"};
        QTest::newRow("empty") << QStringList{"setpoints(3)", "", "Tab", "0.0"};
        QTest::newRow("dwell half rounds up") << QStringList{"dwells(2)", "12.5", "Enter", "13"};
        QTest::newRow("leading point") << QStringList{"cycles(0)", ".5", "Tab", "1"};
    }
    // Enter (which stays in the field) and leaving the field both rewrite the text in the field's
    // pattern; the text then stays, and Enter never talks to the controller.
    void normalising()
    {
        QFETCH(QStringList, row);
        WindowRig rig;
        QLineEdit *edit = rig.field(row[0]);
        edit->setFocus();
        edit->clear();
        QTest::keyClicks(edit, row[1]);
        QTest::keyClick(edit, row[2] == "Enter" ? Qt::Key_Return : Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget() == edit, row[2] == "Enter");
        QCOMPARE(edit->text(), row[3]);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Enter);
        QCOMPARE(edit->text(), row[3]);
        QCOMPARE(rig.fake.calls, QStringList());
    }

    // The scan lists after "Select", in number order, the names from COM1 to COM99 that opened,
    // and leaves none open. A port chosen is opened with "9600,n,8,1" after closing the last, and
    // enables "Run"; "Select" closes it. Only a click, or the arrows and Enter in the open list,
    // choose: typing and the wheel never do.
    void choosingPorts()
    {
        WindowRig rig({"COM12", "COM3", "COM100", "COM0"});
        QComboBox *ports = rig.ports();
        QStringList listed;
        for (int i = 0; i < ports->count(); ++i)
            listed << ports->itemText(i);
        QCOMPARE(listed, QStringList({"Select", "COM3", "COM12"}));
        QVERIFY(ports->currentIndex() == 0 && rig.fake.openPort.isEmpty());
        QCheckBox *run = rig.box("cyclerun");
        QVERIFY(!run->isEnabled());
        ports->setCurrentIndex(2);
        ports->setCurrentIndex(1);
        QCOMPARE(rig.fake.calls,
                 QStringList({"close", "open COM12 9600,n,8,1", "close", "open COM3 9600,n,8,1"}));
        QVERIFY(run->isEnabled() && rig.fake.openPort == "COM3");
        ports->setCurrentIndex(0);
        QCOMPARE(rig.fake.calls.last(), QStringLiteral("close"));
        QVERIFY(!run->isEnabled() && rig.fake.openPort.isEmpty());

        ports->setFocus();
        QTest::keyClicks(ports, "COM3c");
        QTest::keyClick(ports, Qt::Key_End);
        QWheelEvent wheel(QPointF(5, 5), ports->mapToGlobal(QPointF(5, 5)), {}, {0, -120},
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(ports, &wheel);
        QCOMPARE(ports->currentIndex(), 0);
        ports->showPopup();
        QTRY_VERIFY(ports->view()->isVisible());
        QTest::keyClicks(ports->view(), "C");
        QTest::keyClick(ports->view(), Qt::Key_Return);
        QTest::keyClick(ports, Qt::Key_Down); // opens the list rather than the next port
        QTRY_VERIFY(ports->view()->isVisible());
        QCOMPARE(ports->currentIndex(), 0);
        QTest::keyClick(ports->view(), Qt::Key_Down);
        QTest::keyClick(ports->view(), Qt::Key_Return);
        QCOMPARE(rig.fake.openPort, QStringLiteral("COM3"));
    }

    // The setpoint field left by the click is tidy before "Set Temp" reads it (80.25 sends 803;
    // unnormalised it would send 802), and what the register can't hold is refused. A click
    // returns after a 50 ms pause. A reply, whole or in pieces, is shown and flips the indicator;
    // a corrupted or refused one is counted, an echo is not.
    void commands()
    {
        WindowRig rig;
        rig.ports()->setCurrentIndex(1);
        QLineEdit *manual = rig.field("setpoint");
        manual->setFocus();
        manual->clear();
        QTest::keyClicks(manual, "80.25");
        rig.click("Command1(0)");
        QCOMPARE(manual->text(), QStringLiteral("80.3"));
        manual->setText("4000");
        rig.click("Command1(0)");
        QCOMPARE(rig.alerts.titles(), QStringList{"Setpoint error"});
        QElapsedTimer clock;
        clock.start();
        rig.click("Command1(1)");
        QVERIFY(clock.elapsed() >= 50);
        QCOMPARE(rig.fake.sent,
                 QList<QByteArray>({QByteArray::fromHex("0106012c032308d6"), readTempFrame}));

        rig.fake.feed(QByteArray::fromHex("01030200fa3807"), 3);
        QCOMPARE(rig.text("currenttemp"), QStringLiteral("25.0"));
        QVERIFY(rig.box("autosamples")->isChecked());
        for (const char *hex : {"01030201003808", "0106012c00fac9bc", "0186030261"})
            rig.fake.feed(QByteArray::fromHex(hex));
        QCOMPARE(rig.text("errorcount"), QStringLiteral("2"));
        QCOMPARE(rig.text("currenttemp"), QStringLiteral("25.0"));
        QVERIFY(rig.box("autosamples")->isChecked());
    }

    void realPseudoTerminal()
    {
#ifdef _WIN32
        QSKIP("pseudo-terminals are POSIX only");
#else
        // COM1 is the ports folder's link to the peer, as the simulator publishes it; one more
        // peer sits in the device folder as ttyS0 and so takes COM2.
        Pty line(1), other;
        QTemporaryDir devRoot;
        QVERIFY(line.isValid() && other.isValid() && other.publish(devRoot.filePath("ttyS0")));
        qputenv("CHAMBERCTL_PORTS", line.portsDir().toLocal8Bit());
        QtSerialLink link(nullptr, devRoot.path());
        chamber::main window(&link);
        window.Form_Load();
        control<QTimer>(window, "Timer1")->stop();
        auto *ports = control<QComboBox>(window, "portselect");
        QCOMPARE(ports->count(), 3);
        QCOMPARE(ports->itemText(1) + ports->itemText(2), QStringLiteral("COM1COM2"));
        ports->setCurrentIndex(1);

        // The peer ends and takes its link with it. COM1 chosen again must fail, not open the
        // device that would have its number now.
        AlertCloser alerts;
        line.closeMaster();
        QTRY_COMPARE(alerts.titles(), QStringList{"Com port error"});
        QVERIFY(QFile::remove(line.portsDir() + "/COM1"));
        ports->setCurrentIndex(1);
        QCOMPARE(alerts.titles(), QStringList({"Com port error", "Com port error"}));
        QVERIFY2(alerts.seen[1].text.startsWith("Error Code:  8002"),
                 qPrintable(alerts.seen[1].text));
        QCOMPARE(ports->currentIndex(), 0);

        // a peer published again under the name, as a replugged adapter, opens without a restart
        Pty replugged;
        QVERIFY(replugged.publish(line.portsDir() + "/COM1"));
        ports->setCurrentIndex(1);
        QTest::mouseClick(control<QPushButton>(window, "Command1(1)"), Qt::LeftButton);
        QCOMPARE(replugged.readCount(8, 2000), readTempFrame);
        QCOMPARE(alerts.seen.size(), 2);
        qunsetenv("CHAMBERCTL_PORTS");
#endif
    }
};

QTEST_MAIN(tst_window)
#include "tst_window.moc"
