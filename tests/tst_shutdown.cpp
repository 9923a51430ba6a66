// Closing the window ends the program at once, also in the middle of a pause or an alert.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_shutdown : public QObject
{
    Q_OBJECT
private slots:
    void closing_data()
    {
        // idle, inside the pause after a command, inside the open alert, inside a recorded run
        QTest::addColumn<QString>("mode");
        for (const char *mode : {"idle", "pause", "alert", "run"})
            QTest::newRow(mode) << QString(mode);
    }
    // Only an idle window returns to the event loop, which then ends; the interrupted handlers
    // never go on, and the port is closed in every case.
    void closing()
    {
        QFETCH(QString, mode);
        QProcess probe;
        QTemporaryDir records;
        probe.start(QStringLiteral(SHUTDOWN_PROBE), {mode, records.path()});
        QVERIFY(probe.waitForFinished(20000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(probe.readAllStandardOutput()),
                 QString("closing\nport closed\n") + (mode == "idle" ? "ended 0\n" : ""));
        if (mode == "run") {
            // the record was on disk, its end given, before the program ended at once
            const QFileInfoList files = QDir(records.path()).entryInfoList({"*.csv"});
            QCOMPARE(files.size(), 1);
            QFile record(files[0].filePath());
            QVERIFY(record.open(QIODevice::ReadOnly));
            QVERIFY(record.readAll().endsWith(",window closed\n"));
        }
    }
};

QTEST_GUILESS_MAIN(tst_shutdown)
#include "tst_shutdown.moc"
