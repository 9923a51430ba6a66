// The main window: scan, numeric fields, port choice, commands, replies, profiles, a real pty.
#include "dialogs/conditionsdialog.h"
#include "dialogs/rs232_portscanning.h"
#include "dialogs/z_selectfile.h"
#include "link/qtseriallink.h"
#include "support/files.h"
#include "support/pty.h"
#include "support/windowrig.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>

#include <functional>
#include <utility>

using namespace chamber;

namespace {

const QByteArray readTempFrame = QByteArray::fromHex("010300640001c5d5");

const QByteArray goodFile = R"({"format": "chamberctl-profile", "version": 1,
    "points": [{"setpoint_c": 175.04, "dwell_s": 10}, {"setpoint_c": 175.05, "dwell_s": 0},
               {"setpoint_c": 0.15, "dwell_s": 3600}, {"setpoint_c": 25.25, "dwell_s": 1}],
    "use_points": [true, true, true, true], "cycles": 999})";
const QString goodShown = "175.0 175.0 0.2 25.3 10 0 3600 1 999 1 1"; // as ProfileRig::shown() says

// The window, a folder of its own, and an operator who answers the file selection dialog by
// typing name into filename and clicking "OK", or "Cancel" when name is empty; or once in a way
// of their own, answer.
struct ProfileRig : WindowRig
{
    ProfileRig()
    {
        QObject::connect(&poll, &QTimer::timeout, [this] {
            auto *dialog = qobject_cast<Z_selectfile *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->windowHandle()->isExposed() || !dialog->isActiveWindow())
                return; // looked at again on the next poll
            patterns << dialog->pattern();
            dialog->setPath(folder.path());
            if (answer) {
                // once: a dialog the answer left open is cancelled on the next poll
                std::exchange(answer, nullptr)(dialog);
                return;
            }
            dialog->filename->setPlainText(name);
            QTest::mouseClick(name.isEmpty() ? dialog->cancelbutton : dialog->okbutton,
                              Qt::LeftButton);
        });
        poll.start(10);
    }
    // The eight points' fields and the cycles to run, then the boxes of points 3 and 4 as 1 or 0.
    QString shown() const
    {
        QStringList values;
        for (const QString name : {"setpoints(%1)", "dwells(%1)"})
            for (int i = 0; i < 4; ++i)
                values << text(name.arg(i));
        values << text("cycles(0)") << QString::number(box("rampenable(0)")->isChecked())
               << QString::number(box("rampenable(1)")->isChecked());
        return values.join(' ');
    }
    QAction *entry(const QString &caption)
    {
        menu.clear();
        window.fillContextMenu(menu);
        for (QAction *action : menu.actions())
            if (action->text() == caption)
                return action;
        qFatal("no menu entry %s", qPrintable(caption));
    }
    // The window takes the keyboard back from the dialog that had it, as the desktop gives it.
    void shortcut(Qt::Key key)
    {
        window.windowHandle()->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, key, Qt::ControlModifier);
    }

    QTemporaryDir folder;
    QString name;
    std::function<void(Z_selectfile *)> answer;
    QStringList patterns; // of each file selection dialog shown
    QTimer poll;
    QMenu menu;
};

} // namespace

class tst_window : public QObject
{
    Q_OBJECT
private slots:
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

    // Every numeric field takes digits and points only, whatever the modifiers and also from an
    // input method; editing keys and shortcuts work as usual.
    void keys()
    {
        WindowRig rig;
        for (const char *name :
             {"setpoint", "setpoints(0)", "setpoints(1)", "setpoints(2)", "setpoints(3)",
              "dwells(0)", "dwells(1)", "dwells(2)", "dwells(3)", "cycles(0)"}) {
            QLineEdit *edit = rig.field(name);
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
        QTest::newRow("dwell half rounds up") << QStringList{"dwells(2)", "12.5", "Enter", "13"};
        QTest::newRow("leading point") << QStringList{"cycles(0)", ".5", "Tab", "1"};
    }
    // Enter (which stays in the field, and never talks to the controller) and Tab both rewrite the
    // text in the field's pattern.
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
        QCOMPARE(rig.fake.calls, QStringList());
    }

    // The scan, behind its notice, lists after "Select" in number order the names from COM1 to
    // COM99 that opened, and leaves none open. A port chosen is opened with "9600,n,8,1" after
    // closing the last, and enables "Run"; "Select" closes it. Only a click, or the arrows and
    // Enter in the open list, choose: typing and the wheel never do.
    void choosingPorts()
    {
        WindowRig rig({"COM12", "COM3", "COM100", "COM0"});
        bool noticeShown = false;
        QTimer::singleShot(0, [&] {
            for (QWidget *top : QApplication::topLevelWidgets())
                noticeShown |= qobject_cast<RS232_portscanning *>(top) && top->isVisible();
        });
        rig.window.Form_Load();
        QComboBox *ports = rig.ports();
        QStringList listed;
        for (int i = 0; i < ports->count(); ++i)
            listed << ports->itemText(i);
        QCOMPARE(listed, QStringList({"Select", "COM3", "COM12"}));
        QVERIFY(noticeShown && ports->currentIndex() == 0 && rig.fake.openPort.isEmpty());
        QCheckBox *run = rig.box("cyclerun");
        QVERIFY(!run->isEnabled());
        rig.fake.calls.clear();
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
        rig.setTemp("4000");
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

    // Saved from the menu under a name without suffix, tidied first; opened again with Ctrl+O;
    // "Cancel" does nothing. An existing file is replaced only once the operator says so, and a
    // save that fails half-way (the file size limit here, as a full disk) keeps it whole and
    // leaves nothing else behind.
    void profileFiles()
    {
        ProfileRig rig;
        rig.field("setpoints(1)")->setText("180");
        rig.field("dwells(2)")->setText("12.5");
        rig.box("rampenable(0)")->setChecked(true);
        const QString tidied = "75.0 175.0 35.0 25.0 5 5 13 5 1 1 0";
        rig.name = "soak";
        rig.entry("Save profile…")->trigger();
        QCOMPARE(rig.patterns, QStringList{"*.profile"});
        QCOMPARE(rig.shown(), tidied);
        const QString saved = rig.folder.filePath("soak.profile");

        rig.field("setpoints(0)")->setText("1");
        rig.box("rampenable(0)")->setChecked(false);
        rig.name = "soak.profile";
        rig.shortcut(Qt::Key_O);
        QCOMPARE(rig.shown(), tidied);
        rig.name.clear();
        rig.entry("Open profile…")->trigger();
        QCOMPARE(rig.patterns.size(), 3);
        QCOMPARE(rig.shown(), tidied);

        const QByteArray before = contents(saved);
        rig.field("cycles(0)")->setText("3");
        rig.name = "soak.profile";
        rig.alerts.button = 1;
        rig.shortcut(Qt::Key_S);
        QCOMPARE(contents(saved), before);
        rig.alerts.button = 0;
        QVERIFY(limitFileSize(64));
        rig.shortcut(Qt::Key_S);
        QVERIFY(limitFileSize(0));
        QCOMPARE(contents(saved), before);
        QCOMPARE(QDir(rig.folder.path()).entryList(QDir::Files), QStringList{"soak.profile"});
        rig.shortcut(Qt::Key_S);
        QVERIFY(contents(saved).contains("\"cycles\": 3\n"));
        QCOMPARE(rig.alerts.titles(),
                 QStringList({"Save profile", "Save profile", "Profile error", "Save profile"}));
        QVERIFY2(rig.alerts.seen[2].text.contains(saved), qPrintable(rig.alerts.seen[2].text));
    }

    // Without a mouse: Tab to the file list, Down, and Enter collects the file highlighted and
    // leaves the dialog open; Tab leads on from the name box to "OK". With one click on a file,
    // "OK" takes it although no name was collected.
    void profileChosenWithoutTyping()
    {
        ProfileRig rig;
        for (const QString name : {"a.profile", "b.profile"})
            QVERIFY(writeFile(rig.folder.filePath(name), goodFile));
        QString collected;
        rig.answer = [&](Z_selectfile *dialog) {
            const auto key = [&](Qt::Key key) { QTest::keyClick(dialog->windowHandle(), key); };
            key(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), dialog->filelist);
            key(Qt::Key_Down);
            key(Qt::Key_Return);
            collected = dialog->isVisible() ? dialog->filename->toPlainText() : "(closed)";
            for (int i = 0; i < 3; ++i)
                key(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), dialog->okbutton);
            key(Qt::Key_Return);
        };
        rig.shortcut(Qt::Key_O);
        QCOMPARE(collected, QStringLiteral("b.profile"));
        QCOMPARE(rig.shown(), goodShown);

        rig.field("setpoints(0)")->setText("1");
        rig.answer = [&](Z_selectfile *dialog) {
            QListWidget *list = dialog->filelist;
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(1)).center());
            QTest::mouseClick(dialog->okbutton, Qt::LeftButton);
        };
        rig.entry("Open profile…")->trigger();
        QCOMPARE(rig.shown(), goodShown);
        QCOMPARE(rig.alerts.titles(), QStringList());
    }

    // A file that can't be read changes no field and says so once, naming it; a good one sets
    // each field as typing would. A run holds the profile: no file is loaded, neither entry is
    // offered and neither shortcut opens the dialog.
    void profileLoading()
    {
        ProfileRig rig;
        const QString path = rig.folder.filePath("test.profile");
        const QString before = rig.shown();
        QVERIFY(!rig.window.loadProfile(path));
        QCOMPARE(rig.shown(), before);
        QCOMPARE(rig.alerts.titles(), QStringList{"Profile error"});
        QVERIFY2(rig.alerts.seen[0].text.contains(path), qPrintable(rig.alerts.seen[0].text));
        QVERIFY(writeFile(path, goodFile) && rig.window.loadProfile(path));
        QCOMPARE(rig.shown(), goodShown);

        rig.ports()->setCurrentIndex(1);
        for (bool on : {true, false}) {
            rig.click("cyclerun");
            for (const char *caption : {"Open profile…", "Save profile…", "Run conditions…"})
                QCOMPARE(rig.entry(caption)->isEnabled(), !on);
        }
        rig.click("cyclerun");
        QVERIFY(!rig.window.loadProfile(path));
        rig.shortcut(Qt::Key_O);
        rig.shortcut(Qt::Key_S);
        QCOMPARE(rig.patterns, QStringList());
        QCOMPARE(rig.alerts.seen.size(), 1);
    }

    // "Run conditions…" sets the conditions of the runs to come, and they are saved with the
    // profile. A value that the profile file's rules refuse is named by its row and keeps the
    // dialog open.
    void runConditions()
    {
        ProfileRig rig;
        QStringList errors; // after each "OK"
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<ConditionsDialog *>(QApplication::activeModalWidget());
            if (!dialog || !errors.isEmpty())
                return;
            // ticks the row of key and types value into its field; no value clears its box
            const auto set = [dialog](const QString &key, const QString &value) {
                dialog->findChild<QCheckBox *>(key)->setChecked(!value.isEmpty());
                dialog->findChild<QLineEdit *>(key + "_value")->setText(value);
            };
            const auto ok = [&] {
                dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
                errors << (dialog->isVisible() ? dialog->findChild<QLabel *>("error")->text() : "");
            };
            set("deviation_delay_s", "60");
            set("tolerance_c", "0,5");
            ok();
            set("tolerance_c", "");
            ok();
            set("tolerance_c", "0.5");
            dialog->findChild<QComboBox *>("on_alarm")->setCurrentIndex(1);
            ok();
            if (dialog->isVisible())
                dialog->reject(); // never left open to hold the test
        });
        poll.start(10);
        rig.entry("Run conditions…")->trigger();
        QCOMPARE(errors, QStringList({"The tolerance must be a number, not text.",
                                      "The deviation delay needs the tolerance.", ""}));
        rig.name = "unattended";
        rig.entry("Save profile…")->trigger();
        QString error;
        const auto saved = readProfile(rig.folder.filePath("unattended.profile"), error);
        QVERIFY2(saved, qPrintable(error));
        QCOMPARE(conditionsLine(saved->conditions),
                 R"({"deviation_delay_s":60,"on_alarm":"end","tolerance_c":0.5})");
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
