// The command line: what the real program says to --help, --version and bad use, and a --port
// that the scan did not find.
#include "main/commandline.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"

#include <QCheckBox>
#include <QComboBox>
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
            "--records <folder>|--auto");
        row("--version", 0, "chamberctl " CHAMBERCTL_VERSION "\n");
        row("--colour", 2, "Unknown option 'colour'." + hint);
        row("run.profile", 2, "Unexpected argument 'run.profile'.");
        row("--port /dev/ttyUSB0", 2, "COM1 to COM99, not '/dev/ttyUSB0'");
        row("--auto --records=", 2, "--records needs a folder name");
        row("-platform offscreen", 2,
            "'-platform' is an option of Qt|QT_QPA_PLATFORM=offscreen chamberctl" + hint);
        row("-geometry 640x480", 2, "'-geometry' is an option of Qt|such as QT_QPA_PLATFORM");
        row("-port COM3", 2, "Unknown option '-port'; did you mean '--port'?");
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
