// The numeric fields: keys they take, and how Enter and leaving them rewrite their text.
#include "main/main.h"
#include "support/control.h"
#include "support/fakeseriallink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace chamber;

namespace {

const QStringList numericFieldNames = {
    "setpoint",  "setpoints(0)", "setpoints(1)", "setpoints(2)", "setpoints(3)", "dwells(0)",
    "dwells(1)", "dwells(2)",    "dwells(3)",    "cycles(0)",    "cycles(1)"};

} // namespace

class tst_fields : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void keyFilter();
    void normalising_data();
    void normalising();
    void hugeNumbers();
    void normalisedBeforeTheClick();

private:
    FakeSerialLink *fake = nullptr;
    chamber::main *window = nullptr;
    QLineEdit *field(const QString &name) { return control<QLineEdit>(*window, name); }
};

void tst_fields::init()
{
    fake = new FakeSerialLink;
    fake->present = {"COM2"};
    window = new chamber::main(fake);
    window->Form_Load();
    control<QTimer>(*window, "Timer1")->stop();
    fake->calls.clear();
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

void tst_fields::cleanup()
{
    delete window;
    delete fake;
}

void tst_fields::keyFilter()
{
    for (const QString &name : numericFieldNames) {
        QLineEdit *edit = field(name);
        edit->setReadOnly(false); // the counter is locked; its filter is the same
        edit->setFocus();
        edit->clear();
        QTest::keyClicks(edit, "a-+, 1x2.3");
        QCOMPARE(edit->text(),
                 name == "cycles(0)" ? QStringLiteral("12.") : QStringLiteral("12.3"));
        // Backspace and Delete edit as usual; cursor keys move as usual
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClick(edit, Qt::Key_Home);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClick(edit, Qt::Key_Right);
        QTest::keyClicks(edit, "9");
        QCOMPARE(edit->text(), name == "cycles(0)" ? QStringLiteral("29") : QStringLiteral("29."));
    }
    QCOMPARE(fake->calls, QStringList{});

    // AltGr arrives as Ctrl+Alt on Windows, and an input method commits text without keys: both
    // obey the filter; only the editing shortcuts pass with Ctrl
    QLineEdit *point = field("setpoints(0)");
    point->setText("75.0");
    point->setFocus();
    point->end(false);
    for (const QString &typed : QStringList{"@", QString::fromUtf8("\u20ac"), "{", "5"}) {
        QKeyEvent altGr(QEvent::KeyPress, Qt::Key_unknown, Qt::ControlModifier | Qt::AltModifier,
                        typed);
        QApplication::sendEvent(point, &altGr);
    }
    for (const QString &committed : QStringList{"abc", "1x"}) {
        QInputMethodEvent input;
        input.setCommitString(committed);
        QApplication::sendEvent(point, &input);
    }
    QCOMPARE(point->text(), QStringLiteral("75.051"));
    QTest::keyClick(point, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(point, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(point->text(), QString());
    QTest::keyClick(point, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(point->text(), QStringLiteral("75.051"));

    // the fourth character of the cycles to run is refused by the field
    QLineEdit *runs = field("cycles(0)");
    runs->clear();
    runs->setFocus();
    QTest::keyClicks(runs, "1234");
    QCOMPARE(runs->text(), QStringLiteral("123"));

    // Tab still moves on
    field("setpoint")->setFocus();
    QTest::keyClick(field("setpoint"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command1(1)"));
}

void tst_fields::normalising_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typed"); // typed into an emptied field
    QTest::addColumn<bool>("enter");    // Enter, else the focus moves away
    QTest::addColumn<QString>("shown");
    QTest::newRow("profile setpoint gets its decimal") << "setpoints(1)"
                                                       << "80" << true << "80.0";
    QTest::newRow("manual setpoint has no limit") << "setpoint"
                                                  << "200" << true << "200.0";
    QTest::newRow("half rounds up on the decimal digits") << "setpoint"
                                                          << "25.25" << true << "25.3";
    QTest::newRow("0.15 is not 0.1") << "setpoints(2)"
                                     << "0.15" << false << "0.2";
    QTest::newRow("profile setpoint above the limit") << "setpoints(0)"
                                                      << "200" << false << "175.0";
    QTest::newRow("175.05 rounds above the limit") << "setpoints(0)"
                                                   << "175.05" << true << "175.0";
    QTest::newRow("175.04 stays at the limit") << "setpoints(0)"
                                               << "175.04" << true << "175.0";
    QTest::newRow("175 is allowed") << "setpoints(3)"
                                    << "175" << false << "175.0";
    QTest::newRow("empty setpoint") << "setpoints(3)"
                                    << "" << false << "0.0";
    QTest::newRow("trailing point") << "setpoints(2)"
                                    << "30." << true << "30.0";
    QTest::newRow("dwell half rounds up") << "dwells(2)"
                                          << "12.5" << true << "13";
    QTest::newRow("dwell rounds down") << "dwells(2)"
                                       << "12.4" << true << "12";
    QTest::newRow("lone point") << "dwells(1)"
                                << "." << false << "0";
    QTest::newRow("empty dwell") << "dwells(0)"
                                 << "" << true << "0";
    QTest::newRow("two points read up to the second") << "cycles(0)"
                                                      << "1.2" << false << "1";
    QTest::newRow("leading point") << "cycles(0)"
                                   << ".5" << false << "1";
    QTest::newRow("leading zeros") << "dwells(3)"
                                   << "007" << true << "7";
}

void tst_fields::normalising()
{
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(bool, enter);
    QFETCH(QString, shown);
    QLineEdit *edit = field(name);
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, typed);
    if (enter) {
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), edit); // Enter does not move on
    } else {
        QTest::keyClick(edit, Qt::Key_Tab);
    }
    QCOMPARE(edit->text(), shown);
    // normalised text stays as it is, and Enter never talks to the controller
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Enter);
    QCOMPARE(edit->text(), shown);
    QCOMPARE(fake->calls, QStringList{});
}

void tst_fields::hugeNumbers()
{
    // pasted text no key could produce, and numbers beyond a double, must not end the program
    QLineEdit *manual = field("setpoint");
    manual->setText(QString(400, '9'));
    QTest::keyClick(manual, Qt::Key_Return);
    QVERIFY(!manual->text().isEmpty());
    QVERIFY(manual->text().endsWith(".0"));

    QLineEdit *point = field("setpoints(1)");
    point->setText(QString(400, '9') + ".5");
    QTest::keyClick(point, Qt::Key_Return);
    QCOMPARE(point->text(), QStringLiteral("175.0"));

    QLineEdit *dwell = field("dwells(1)");
    dwell->setText("-12.5abc");
    QTest::keyClick(dwell, Qt::Key_Return);
    QCOMPARE(dwell->text(), QStringLiteral("-13"));
}

void tst_fields::normalisedBeforeTheClick()
{
    auto *ports = control<QComboBox>(*window, "portselect");
    ports->setCurrentIndex(1);
    // 80.25 normalised is 80.3 and sends 803; unnormalised it would send 802 (half to even)
    QLineEdit *manual = field("setpoint");
    manual->setFocus();
    manual->clear();
    QTest::keyClicks(manual, "80.25");
    QTest::mouseClick(control<QPushButton>(*window, "Command1(0)"), Qt::LeftButton);
    QCOMPARE(manual->text(), QStringLiteral("80.3"));
    QCOMPARE(fake->sent,
             QList<QByteArray>{QByteArray::fromHex("0106012c0323") + QByteArray::fromHex("08d6")});

    // the same when the click ticks "Run": the profile is tidy before the run reads it
    QLineEdit *point = field("setpoints(0)");
    point->setFocus();
    point->clear();
    QTest::keyClicks(point, "180");
    auto *run = control<QCheckBox>(*window, "cyclerun");
    QTest::mouseClick(run, Qt::LeftButton);
    QVERIFY(run->isChecked());
    QCOMPARE(point->text(), QStringLiteral("175.0"));
    QVERIFY(point->isReadOnly());
}

QTEST_MAIN(tst_fields)
#include "tst_fields.moc"
