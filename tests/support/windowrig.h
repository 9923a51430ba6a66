// The main window on a FakeSerialLink, loaded, active, its timer stopped and its alerts recorded.
#pragma once

#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

namespace chamber {

struct WindowRig
{
    // ports: the names that open, and so the ones the start-up scan lists
    explicit WindowRig(const QStringList &ports = {"COM3", "COM4"})
    {
        fake.present = QSet<QString>(ports.begin(), ports.end());
        control<QTimer>(window, "Timer1")->stop();
        window.Form_Load();
        window.show();
        if (!QTest::qWaitForWindowActive(&window))
            qFatal("the window never became active");
        fake.calls.clear();
    }
    QLineEdit *field(const QString &name) const { return control<QLineEdit>(window, name); }
    QString text(const QString &name) const { return field(name)->text(); }
    QCheckBox *box(const QString &name) const { return control<QCheckBox>(window, name); }
    QComboBox *ports() const { return control<QComboBox>(window, "portselect"); }
    void click(const QString &name) { QTest::mouseClick(control(window, name), Qt::LeftButton); }
    // value put in the manual setpoint, and "Set Temp" clicked
    void setTemp(const QString &value)
    {
        field("setpoint")->setText(value);
        click("Command1(0)");
    }
    // The points' setpoints and dwells from point 0 on, as "40.0 30.0" and "1 1".
    void points(const QString &setpoints, const QString &dwells)
    {
        for (int i = 0; i <= setpoints.count(' '); ++i) {
            field(QString("setpoints(%1)").arg(i))->setText(setpoints.section(' ', i, i));
            field(QString("dwells(%1)").arg(i))->setText(dwells.section(' ', i, i));
        }
    }

    AlertCloser alerts; // outlives the window, whose end may still have something to say
    FakeSerialLink fake;
    chamber::main window{&fake};
};

} // namespace chamber
