// The command line: what the real program says to --help, --version and bad use, and a --port
// that the scan did not find.
#include "main/commandline.h"
#include "main/main.h"
#include "support/alertcloser.h"
#include "support/control.h"
#include "support/fakeseriallink.h"
#include "support/oldrecord.h"

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
            "--records <folder>|--auto|--operator <name>|--test-id <text>|--report <record>|"
            "--output <file>");
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
        row("--output run.pdf", 2, "--output goes with --report.");
        row("--report run.csv --port COM1", 2, "--report opens no window: --port does not go");
        row("--report no-such.csv", 2, "no-such.csv: No such file");
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
            QFile file(record);
            file.open(QIODevice::WriteOnly);
            file.write(text);
            file.close();
            QProcess process;
            qputenv("QT_QPA_PLATFORM", "no-such-platform"); // --report needs no display
            process.start(QStringLiteral(CHAMBERCTL), {"--report", record});
            process.waitForFinished(30000);
            err = QString::fromLocal8Bit(process.readAllStandardError());
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        QString err;
        QCOMPARE(report(whole.chopped(12), err), 0);
        QProcess pdftotext;
        pdftotext.start("pdftotext", {folder.filePath("run.pdf"), "-"});
        QVERIFY(pdftotext.waitForFinished(30000));
        const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
        QVERIFY2(text.contains("The run did not end: its record stops at 2026-12-06 14:02:31"),
                 qPrintable(text));
        QVERIFY(QFile::exists(folder.filePath("run.summary.json")));
        QCOMPARE(report(QByteArray(whole).replace("23.5", "2x.5"), err), 2);
        QVERIFY2(err.contains("run.csv: line 13: a number cannot be read"), qPrintable(err));
        QCOMPARE(report(whole.left(200), err), 2);
        QVERIFY2(err.contains("run.csv: line 6: the column names are missing"), qPrintable(err));
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
        window.applyStartOptions({"COM7", {}, {}, true, {}, {}});
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
