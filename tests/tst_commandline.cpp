// The command line: what the real program says to --help, --version and bad use, and a --port
// that the scan did not find.
#include "main/commandline.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"

#include <QCheckBox>
#include <QComboBox>
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
            "--records <folder>|--auto|--mqtt <URL>|--mqtt-password-file <file>|--overview <URL>");
        row("--version", 0, "chamberctl " CHAMBERCTL_VERSION "\n");
        row("--colour", 2, "Unknown option 'colour'." + hint);
        row("run.profile", 2, "Unexpected argument 'run.profile'.");
        row("--port /dev/ttyUSB0", 2, "COM1 to COM99, not '/dev/ttyUSB0'");
        row("--auto --records=", 2, "--records needs a folder name");
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
        const auto write = [&config](const QString &name, const QByteArray &text) {
            QFile file(config.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        QVERIFY(write("chamberctl/chamberctl.conf", conf) &&
                write("chamberctl/secret", "from-file\n") &&
                write("other-secret", "from-other-file"));
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
        AlertCloser alerts;
        FakeSerialLink fake;
        fake.present = {"COM3", "COM4"};
        chamber::main window(&fake);
        window.Form_Load();
        fake.present.remove("COM4"); // gone since the scan
        window.applyStartOptions({"COM7", {}, {}, true});
        QVERIFY(alerts.seen.value(0).text.contains("COM7 was not found by the port scan"));
        auto *ports = control<QComboBox>(window, "portselect");
        ports->setCurrentIndex(2); // COM4
        QVERIFY(ports->currentText() == "Select" &&
                !control<QCheckBox>(window, "autoread")->isChecked());
        ports->setCurrentIndex(1); // COM3
        QVERIFY(control<QCheckBox>(window, "autoread")->isChecked());
        QCOMPARE(alerts.titles(), QStringList({"Com port error", "Com port error"}));
    }
};

QTEST_MAIN(tst_commandline)
#include "tst_commandline.moc"
