// chamberctl end to end: started with its options, the window and the real serial link run a
// whole profile against chamber-sim over a pseudo-terminal.
#include "link/qtseriallink.h"
#include "main/commandline.h"
#include "main/main.h"
#include "support/control.h"
#include "support/simprocess.h"
#include "util/profilefile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QtTest>

using namespace chamber;

class tst_endtoend : public QObject
{
    Q_OBJECT
private slots:
    // --port, --profile, --records and --auto as the program applies them, then two points run
    // twice: every frame reaches the controller whole, and the readings that come back drive it.
    void wholeRun()
    {
        QTemporaryDir folder;
        const QString profile = folder.filePath("run.profile"), records = folder.filePath("runs");
        QString error;
        QVERIFY2(writeProfile(profile, {{40, 30, 35, 25}, {1, 1, 1, 1}, {true, true}, 2}, error),
                 qPrintable(error));
        SimProcess sim({"--rate", "100", "--ambient", "25", "--log"});
        QVERIFY(sim.waitReady());
        qputenv("CHAMBERCTL_PORTS", QFile::encodeName(sim.folder));
        QtSerialLink link;
        chamber::main window(&link);
        window.Form_Load();
        window.show();
        window.applyStartOptions({"COM1", profile, records, true});
        QTRY_COMPARE_WITH_TIMEOUT(control<QLineEdit>(window, "currenttemp")->text(), "25.0", 10000);
        auto *run = control<QCheckBox>(window, "cyclerun");
        run->click();
        QTRY_VERIFY_WITH_TIMEOUT(!run->isChecked(), 60000);
        QCOMPARE(control<QLineEdit>(window, "cycles(1)")->text(), "2");
        QCOMPARE(control<QLineEdit>(window, "errorcount")->text(), "0");
        control<QComboBox>(window, "portselect")->setCurrentIndex(0);
        window.close(); // waits for the run record to be written
        qunsetenv("CHAMBERCTL_PORTS");

        QCOMPARE(sim.stop(), QString());
        QCOMPARE(sim.logLines("garbage"), QStringList());
        // The profile twice, then the rest setpoint twice: the last step clears the Run box,
        // whose handler ends the run, and then ends it once more itself.
        QCOMPARE(sim.logLines("setpoint "),
                 QStringList({"setpoint 400", "setpoint 300", "setpoint 400", "setpoint 300",
                              "setpoint 250", "setpoint 250"}));
        QCOMPARE(QDir(records).entryList({"*.csv"}).size(), 1);
    }
};

QTEST_MAIN(tst_endtoend)
#include "tst_endtoend.moc"
