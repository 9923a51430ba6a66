// Closing the window ends the program at once, also in the middle of a pause or an alert.
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_shutdown : public QObject
{
    Q_OBJECT
private slots:
    void closing_data();
    void closing();
};

void tst_shutdown::closing_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("output");
    QTest::newRow("while idle") << "idle"
                                << "closing\nport closed\nended 0\n";
    QTest::newRow("during the pause after a command") << "pause"
                                                      << "closing\nport closed\n";
    QTest::newRow("while the modal alert is open") << "alert"
                                                   << "closing\nport closed\n";
    QTest::newRow("during a recorded run") << "run"
                                           << "closing\nport closed\n";
}

void tst_shutdown::closing()
{
    QFETCH(QString, mode);
    QFETCH(QString, output);
    QProcess probe;
    probe.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    QTemporaryDir records;
    probe.start(QStringLiteral(SHUTDOWN_PROBE), {mode, records.path()});
    QVERIFY(probe.waitForFinished(20000));
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(probe.readAllStandardOutput()), output);
    if (mode == "run") {
        // the record was on disk, its end given, before the program ended at once
        const QFileInfoList files = QDir(records.path()).entryInfoList({"*.csv"});
        QCOMPARE(files.size(), 1);
        QFile record(files[0].filePath());
        QVERIFY(record.open(QIODevice::ReadOnly));
        QVERIFY(record.readAll().endsWith(",window closed\n"));
    }
}

QTEST_GUILESS_MAIN(tst_shutdown)
#include "tst_shutdown.moc"
