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

namespace {

constexpr int readingms = 10000; // generous for a sanitizer build on a busy machine

// chamber-sim offering COM1, and the window started on it as chamberctl's main() starts it.
struct Rig
{
    Rig()
        : sim({"--rate", "20", "--ambient", "21"})
    {}
    ~Rig()
    {
        window.reset();
        qunsetenv("CHAMBERCTL_PORTS");
    }
    bool start(const StartOptions &options)
    {
        if (!sim.waitready())
            return false;
        qputenv("CHAMBERCTL_PORTS", QFile::encodeName(sim.folder));
        window = std::make_unique<chamber::main>(&link);
        window->Form_Load();
        window->show();
        window->applyStartOptions(options);
        return true;
    }
    QComboBox *ports() { return control<QComboBox>(*window, "portselect"); }

    SimProcess sim;
    QtSerialLink link;
    std::unique_ptr<chamber::main> window;
};

} // namespace

class tst_commandline : public QObject
{
    Q_OBJECT
private slots:
    void program_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("output"); // each must appear on stdout
        QTest::addColumn<QString>("error");      // on stderr
        QTest::newRow("help") << QStringList{"--help"} << 0
                              << QStringList{"Usage: chamberctl [options]\n",
                                             "-h, --help",
                                             "-v, --version",
                                             "--port <COMn>",
                                             "--profile <file>",
                                             "--records <folder>",
                                             "--auto"}
                              << "";
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QStringList{"chamberctl " CHAMBERCTL_VERSION "\n"} << "";
        const auto bad = [](const char *name, const QStringList &arguments, const char *error) {
            QTest::newRow(name) << arguments << 2 << QStringList() << QString::fromUtf8(error);
        };
        bad("unknown option", {"--colour"}, "Unknown option 'colour'.");
        bad("missing value", {"--profile"}, "Missing value after '--profile'.");
        bad("stray argument", {"run.profile"}, "Unexpected argument 'run.profile'.");
        bad("port by device name", {"--port", "/dev/ttyUSB0"}, "COM1 to COM99, not '/dev/ttyUSB0'");
        bad("port out of range", {"--port", "COM100"}, "COM1 to COM99, not 'COM100'");
        bad("empty records folder", {"--auto", "--records="}, "--records needs a folder name");
    }
    // Run with a display platform that does not exist: a program that got as far as making its
    // window would abort instead of answering.
    void program()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, output);
        QFETCH(QString, error);
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
        for (const QString &part : output)
            QVERIFY2(out.contains(part), qPrintable(out));
        if (status == 0) {
            QCOMPARE(err, QString());
        } else {
            QCOMPARE(out, QString());
            QVERIFY2(err.contains(error) && err.endsWith("Try 'chamberctl --help' for more "
                                                         "information.\n"),
                     qPrintable(err));
        }
    }

    // --port COM1 --profile FILE --auto: the profile is in the fields and readings come in.
    void startOnPort()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath("run.profile");
        QString error;
        const Profile profile{{40, 30, 35, 25}, {20, 10, 5, 5}, {true, true, true, false}, 2};
        QVERIFY2(writeProfile(path, profile, error), qPrintable(error));

        Rig rig;
        QVERIFY(rig.start({"COM1", path, {}, true}));
        QSignalSpy readings(control<QCheckBox>(*rig.window, "autosamples"), &QCheckBox::toggled);
        QCOMPARE(rig.ports()->currentText(), QStringLiteral("COM1"));
        QVERIFY(control<QCheckBox>(*rig.window, "autoread")->isChecked());
        QCOMPARE(control<QLineEdit>(*rig.window, "setpoints(2)")->text(), QStringLiteral("35.0"));
        QCOMPARE(control<QLineEdit>(*rig.window, "dwells(0)")->text(), QStringLiteral("20"));
        QCOMPARE(control<QLineEdit>(*rig.window, "cycles(0)")->text(), QStringLiteral("2"));
        QVERIFY(control<QCheckBox>(*rig.window, "rampenable(0)")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(readings.size() >= 3, readingms);
        QCOMPARE(control<QLineEdit>(*rig.window, "currenttemp")->text(), QStringLiteral("21.0"));
        rig.ports()->setCurrentIndex(0);
        QCOMPARE(rig.sim.stop(), QString());
    }

    // --port COM99 --auto where the scan found only COM1: "Com port error", "Select" stays, and
    // "Auto" waits for the operator's own choice of port.
    void startOnUnlistedPort()
    {
        AlertCloser alerts;
        Rig rig;
        QVERIFY(rig.start({"COM99", {}, {}, true}));
        QCOMPARE(alerts.titles(), QStringList{"Com port error"});
        QVERIFY2(alerts.seen[0].text.contains("COM99 was not found by the port scan"),
                 qPrintable(alerts.seen[0].text));
        QCOMPARE(rig.ports()->currentText(), QStringLiteral("Select"));
        QCheckBox *autoread = control<QCheckBox>(*rig.window, "autoread");
        QVERIFY(!autoread->isChecked());

        rig.ports()->setCurrentIndex(rig.ports()->findText("COM1"));
        QVERIFY(autoread->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(control<QLineEdit>(*rig.window, "currenttemp")->text(),
                                  QStringLiteral("21.0"), readingms);
        rig.ports()->setCurrentIndex(0);
        QCOMPARE(rig.sim.stop(), QString());
    }
};

QTEST_MAIN(tst_commandline)
#include "tst_commandline.moc"
