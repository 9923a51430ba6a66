// The command line: what the real program says to --help, --version and bad use, and a --port
// that the scan did not find.
#include "main/commandline.h"
#include "support/files.h"
#include "support/oldrecord.h"
#include "support/windowrig.h"

#include <QSysInfo>
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
        const auto row = [](const char *arguments, int status, const QString &expected) {
            QTest::newRow(arguments)
                << QString(arguments).split(' ') << status << expected.split('|');
        };
        const QString hint = "\nTry 'chamberctl --help' for more information.\n";
        row("--help", 0,
            "Usage: chamberctl [options]\n|--port <COMn>|--profile <file>|"
            "--records <folder>|--auto|--operator <name>|--test-id <text>|"
            "--recover <resume|end|leave|ask>|--report <record>|"
            "--output <file>|--mqtt <URL>|--mqtt-password-file <file>|--overview <URL>");
        row("--version", 0, "chamberctl " CHAMBERCTL_VERSION "\n");
        row("--colour", 2, "Unknown option 'colour'." + hint);
        row("run.profile", 2, "Unexpected argument 'run.profile'.");
        row("--port /dev/ttyUSB0", 2, "COM1 to COM99, not '/dev/ttyUSB0'");
        row("--auto --records=", 2, "--records needs a folder name");
        row("-platform offscreen", 2,
            "'-platform' is an option of Qt|QT_QPA_PLATFORM=offscreen chamberctl" + hint);
        row("-geometry 640x480", 2, "'-geometry' is an option of Qt|such as QT_QPA_PLATFORM");
        row("-port COM3", 2, "Unknown option '-port'; did you mean '--port'?");
        row("--operator=", 2, "--operator needs a text");
        row("--recover later", 2, "--recover takes resume, end, leave or ask, not 'later'.");
        row("--output run.pdf", 2, "--output goes with --report.");
        row("--report run.csv --port COM1", 2, "--report opens no window: --port does not go");
        row("--report no-such.csv", 2, "no-such.csv: No such file");
        row("--mqtt mqtt://broker --mqtt-password=s3cret", 2,
            "--mqtt-password is not accepted: every user of this computer can read a command "
            "line. Put the password in the environment variable CHAMBERCTL_MQTT_PASSWORD, or in "
            "a file named by --mqtt-password-file.");
        row("--mqtt tcp://broker", 2, "--mqtt: 'tcp://broker' is not a broker URL");
        row("--mqtt-user lab1", 2, "--mqtt-user is for publishing to a broker");
        row("--overview mqtt://broker --port COM1", 2, "it takes no --port");
        row("--mqtt mqtt://broker --mqtt-ca ca.crt", 2,
            "--mqtt-ca: a certificate authority is only used with an mqtts:// URL");
    }
    // Run with a display platform that does not exist: a program that got as far as making its
    // window would abort instead of answering.
    void program()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, expected);
        QProcess process;
        qputenv("QT_QPA_PLATFORM", "no-such-platform"); // for the program; ours has its display
        process.start(QStringLiteral(CHAMBERCTL), arguments);
        QVERIFY(process.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == status,
                 qPrintable(out + err));
        QCOMPARE((status == 0 ? err : out), QString()); // each goes to its own stream only
        for (const QString &part : expected)
            QVERIFY2((status == 0 ? out : err).contains(part), qPrintable(out + err));
    }

    // --report on records that are damaged: no window, no display, no crash; a record that cannot
    // be read is named with its line, and one cut by a crash is reported as a run that did not
    // end.
    void reportOfDamagedRecords()
    {
        QTemporaryDir folder;
        const QByteArray whole =
            oldPreamble +
            QByteArray("2026-12-06T14:02:31.250+01:00,0.000,,,Hold,0,0,run started\n"
                       "2026-12-06T14:02:31.455+01:00,0.205,23.0,,Hold,0,0,\n"
                       "2026-12-06T14:02:31.507+01:00,0.257,,75.0,Heat,1,0,setpoint sent\n"
                       "2026-12-06T14:02:31.755+01:00,0.505,23.5,75.0,Heat,1,0,\n");
        const auto report = [&](const QByteArray &text, QString &err) {
            const QString record = folder.filePath("run.csv");
            writeFile(record, text);
            QProcess process;
            qputenv("QT_QPA_PLATFORM", "no-such-platform"); // --report needs no display
            process.start(QStringLiteral(CHAMBERCTL), {"--report", record});
            process.waitForFinished(30000);
            err = QString::fromLocal8Bit(process.readAllStandardError());
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        QString err;
        QCOMPARE(report(whole.chopped(12), err), 0);
        const QString text = pdfText(folder.filePath("run.pdf"));
        QVERIFY2(text.contains("The run did not end: its record stops at 2026-12-06 14:02:31"),
                 qPrintable(text));
        QVERIFY(QFile::exists(folder.filePath("run.summary.json")));
        QCOMPARE(report(QByteArray(whole).replace("23.5", "2x.5"), err), 2);
        QVERIFY2(err.contains("run.csv: line 13: a number cannot be read"), qPrintable(err));
        QCOMPARE(report(whole.left(200), err), 2);
        QVERIFY2(err.contains("run.csv: line 6: the column names are missing"), qPrintable(err));
    }

    void brokerSettings_data()
    {
        QTest::addColumn<QByteArray>("conf"); // the settings file; a file "secret" lies beside it
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("variable"); // CHAMBERCTL_MQTT_PASSWORD; null: unset
        QTest::addColumn<QString>("expected");    // "url user station password", or the warning
        const QByteArray conf = "[mqtt]\nurl=mqtt://lab-broker:1884\nuser=lab2\nstation=north\n"
                                "password-file=secret\n";
        QTest::newRow("the settings file alone, the password file beside it")
            << conf << QStringList() << QByteArray()
            << "mqtt://lab-broker:1884 lab2 north from-file";
        QTest::newRow("the command line wins")
            << conf << QStringList({"--station", "south", "--mqtt", "mqtts://other"})
            << QByteArray() << "mqtts://other lab2 south from-file";
        QTest::newRow("the environment before the settings' password file")
            << conf << QStringList() << QByteArray("from-env")
            << "mqtt://lab-broker:1884 lab2 north from-env";
        QTest::newRow("the password file of the command line before the environment")
            << conf << QStringList({"--mqtt-password-file", "other-secret"})
            << QByteArray("from-env") << "mqtt://lab-broker:1884 lab2 north from-other-file";
        QTest::newRow("the host name when no station is named")
            << QByteArray("[mqtt]\nurl=mqtt://lab-broker\n") << QStringList() << QByteArray()
            << "mqtt://lab-broker  " + QSysInfo::machineHostName() + ' ';
        QTest::newRow("a wrong URL in the settings: the window opens all the same")
            << QByteArray("[mqtt]\nurl=ftp://lab-broker\n") << QStringList() << QByteArray()
            << "mqtt/url in %1: 'ftp://lab-broker' is not a broker URL";
    }
    // The broker's settings: the options, the settings file and the password's places, in that
    // order; a fault in the settings file is said, and the chamber's window opens all the same.
    void brokerSettings()
    {
        QFETCH(QByteArray, conf);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, variable);
        QFETCH(QString, expected);
        QTemporaryDir config;
        QVERIFY(QDir(config.path()).mkpath("chamberctl"));
        QVERIFY(writeFile(config.filePath("chamberctl/chamberctl.conf"), conf) &&
                writeFile(config.filePath("chamberctl/secret"), "from-file\n") &&
                writeFile(config.filePath("other-secret"), "from-other-file"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const QString file = settingsFile();
        if (variable.isNull())
            qunsetenv("CHAMBERCTL_MQTT_PASSWORD");
        else
            qputenv("CHAMBERCTL_MQTT_PASSWORD", variable);
        const QString folder = QDir::currentPath();
        QDir::setCurrent(config.path());
        const CommandLine command = parseCommandLine(QStringList("chamberctl") << arguments);
        QDir::setCurrent(folder);
        qunsetenv("CHAMBERCTL_MQTT_PASSWORD");
        qunsetenv("XDG_CONFIG_HOME");

        QVERIFY2(!command.exitStatus, qPrintable(command.errors));
        const BrokerSettings &broker = command.broker;
        if (expected.contains("%1")) {
            QVERIFY2(command.brokerWarning.startsWith(expected.arg(file)),
                     qPrintable(command.brokerWarning));
            return;
        }
        QCOMPARE(command.brokerWarning, QString());
        QCOMPARE(QStringList({broker.url, broker.user, broker.station, broker.password}).join(' '),
                 expected);
    }

    // A port the scan did not find is reported, the list stays on "Select", and "Auto" waits for
    // the operator to open a port: a choice that fails to open is none.
    void portNotFound()
    {
        WindowRig rig;                   // COM3 and COM4 found
        rig.fake.present.remove("COM4"); // gone since the scan
        rig.window.applyStartOptions({"COM7", {}, {}, true, {}, {}});
        QVERIFY(rig.alerts.seen.value(0).text.contains("COM7 was not found by the port scan"));
        rig.ports()->setCurrentIndex(2); // COM4
        QVERIFY(rig.ports()->currentText() == "Select" && !rig.box("autoread")->isChecked());
        rig.ports()->setCurrentIndex(1); // COM3
        QVERIFY(rig.box("autoread")->isChecked());
        QCOMPARE(rig.alerts.titles(), QStringList({"Com port error", "Com port error"}));
    }
};

QTEST_MAIN(tst_commandline)
#include "tst_commandline.moc"
