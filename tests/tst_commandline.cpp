// The command line: what the real program says to --help, --version and bad use, and the start
// options at work against chamber-sim.
#include "link/qtseriallink.h"
#include "main/commandline.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/simprocess.h"
#include "util/profilefile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

using namespace chamber;

class tst_commandline : public QObject
{
    Q_OBJECT
private slots:
    void program_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("expected"); // on stdout after status 0, else on stderr
        const QString hint = "\nTry 'chamberctl --help' for more information.\n";
        QTest::newRow("help") << QStringList{"--help"} << 0
                              << QStringList{"Usage: chamberctl [options]\n",
                                             "-h, --help",
                                             "-v, --version",
                                             "--port <COMn>",
                                             "--profile <file>",
                                             "--records <folder>",
                                             "--auto"};
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QStringList{"chamberctl " CHAMBERCTL_VERSION "\n"};
        QTest::newRow("unknown option")
            << QStringList{"--colour"} << 2 << QStringList{"Unknown option 'colour'." + hint};
        QTest::newRow("missing value") << QStringList{"--profile"} << 2
                                       << QStringList{"Missing value after '--profile'." + hint};
        QTest::newRow("stray argument")
            << QStringList{"run.profile"} << 2 << QStringList{"Unexpected argument 'run.profile'."};
        QTest::newRow("port by device name") << QStringList{"--port", "/dev/ttyUSB0"} << 2
                                             << QStringList{"COM1 to COM99, not '/dev/ttyUSB0'"};
        QTest::newRow("empty folder") << QStringList{"--auto", "--records="} << 2
                                      << QStringList{"--records needs a folder name"};
    }
    // Run with a display platform that does not exist: a program that got as far as making its
    // window would abort instead of answering.
    void program()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, expected);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "no-such-platform");
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(CHAMBERCTL), arguments);
        QVERIFY(process.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == status, qPrintable(out + err));
        QCOMPARE((status == 0 ? err : out), QString()); // each goes to its own stream only
        for (const QString &part : expected)
            QVERIFY2((status == 0 ? out : err).contains(part), qPrintable(out + err));
    }

    void start_data()
    {
        QTest::addColumn<QString>("port");
        QTest::newRow("listed port") << "COM1";
        QTest::newRow("port the scan did not find") << "COM99";
    }
    // --port, --profile, --records and --auto against chamber-sim offering COM1, started as main()
    // does: the profile is in the fields and readings come in. A port the scan did not find is
    // reported, the list stays on "Select", and "Auto" waits for the operator to open a port.
    void start()
    {
        QFETCH(QString, port);
        QTemporaryDir folder;
        const QString path = folder.filePath("run.profile");
        QString error;
        const Profile profile{{40, 30, 35, 25}, {20, 10, 5, 5}, {true, true, true, false}, 2};
        QVERIFY2(writeProfile(path, profile, error), qPrintable(error));
        AlertCloser alerts;
        SimProcess sim({"--rate", "20", "--ambient", "21"});
        QVERIFY(sim.waitReady());
        qputenv("CHAMBERCTL_PORTS", QFile::encodeName(sim.folder));
        QtSerialLink link;
        chamber::main window(&link);
        window.Form_Load();
        window.show();
        window.applyStartOptions({port, path, folder.filePath("runs"), true});
        QCOMPARE(window.recordsFolder(), folder.filePath("runs"));

        auto *ports = control<QComboBox>(window, "portselect");
        auto *autoread = control<QCheckBox>(window, "autoread");
        if (port != "COM1") {
            QCOMPARE(alerts.titles(), QStringList{"Com port error"});
            QVERIFY2(alerts.seen[0].text.contains(port + " was not found by the port scan"),
                     qPrintable(alerts.seen[0].text));
            QCOMPARE(ports->currentText(), QStringLiteral("Select"));
            QVERIFY(!autoread->isChecked());
            ports->setCurrentIndex(ports->findText("COM1"));
        }
        QCOMPARE(ports->currentText(), QStringLiteral("COM1"));
        QVERIFY(autoread->isChecked());
        QStringList shown;
        for (const char *name : {"setpoints(2)", "dwells(0)", "cycles(0)"})
            shown << control<QLineEdit>(window, name)->text();
        QCOMPARE(shown, QStringList({"35.0", "20", "2"}));
        QVERIFY(control<QCheckBox>(window, "rampenable(0)")->isChecked());
        QSignalSpy readings(control<QCheckBox>(window, "autosamples"), &QCheckBox::toggled);
        QTRY_VERIFY_WITH_TIMEOUT(readings.size() >= 3, 10000); // generous for a sanitizer build
        QCOMPARE(control<QLineEdit>(window, "currenttemp")->text(), QStringLiteral("21.0"));
        ports->setCurrentIndex(0);
        qunsetenv("CHAMBERCTL_PORTS");
        QCOMPARE(sim.stop(), QString());
    }
};

QTEST_MAIN(tst_commandline)
#include "tst_commandline.moc"
