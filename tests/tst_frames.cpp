// What goes on the line: the frames for "settemp" and "readtemp" with their CRC, the settings text.
#include "link/frames.h"
#include "link/portsettings.h"

#include <QtTest>

using namespace chamber;

class tst_frames : public QObject
{
    Q_OBJECT
private slots:
    void frames_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<double>("dataout");
        QTest::addColumn<QByteArray>("frame");
        const auto row = [](const char *name, const QString &mode, double dataout,
                            const char *hex) {
            QTest::newRow(name) << mode << dataout << QByteArray::fromHex(hex);
        };
        // the CRC as well: bytes above 7F count unsigned, the low byte goes first
        row("readtemp mixed case", "ReadTemp", 0, "010300640001c5d5");
        row("settemp 25.0 degrees", "settemp", 250, "0106012c00fac9bc");
        row("half rounds to even, up", "settemp", 255.5, "0106012c0100486f");
        row("half rounds to even, down", "settemp", 254.5, "0106012c00fec87f");
        row("negative in two's complement", "settemp", -100, "0106012cff9c0866");
        row("huge value keeps low bits 0", "settemp", 1e300, "0106012c000049ff");
        row("NaN sends nothing", "settemp", qQNaN(), "");
        row("infinity sends nothing", "settemp", qInf(), "");
        row("blank before", " readtemp", 0, "");
        row("long s is not an s", QString::fromUtf8("\u017Fettemp"), 250, "");
    }
    void frames()
    {
        QFETCH(QString, mode);
        QFETCH(double, dataout);
        QFETCH(QByteArray, frame);
        QCOMPARE(frameFor(mode, dataout).toHex(' '), frame.toHex(' '));
    }

    // The register is read back as signed: only what survives that round trip may be sent.
    void setpointRange()
    {
        for (const double fits : {0.0, 32767.0, 32767.4, -32768.0, -32768.5})
            QVERIFY2(setpointFits(fits), qPrintable(QString::number(fits)));
        for (const double wraps : {32767.5, 40000.0, 65535.0, -32768.6, 1e300, qQNaN(), qInf()})
            QVERIFY2(!setpointFits(wraps), qPrintable(QString::number(wraps)));
    }

    void settings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // what was read, written plainly; empty: refused
        for (const char *text : {"9600,n,8,1", "19200,e,7,2", "110,m,5,1.5", "115200,s,6,1"})
            QTest::newRow(text) << text << text;
        QTest::newRow("upper case, blanks around") << " 4800 , O ,\t8 , 1 "
                                                   << "4800,o,8,1";
        // refused: wrong field counts, unknown or spelt-out parity, a baud that toInt() alone
        // would take or that overflows, data and stop bits out of range or written otherwise
        for (const char *text :
             {"", "9600,n,8", "9600,n,8,1,", "9600,x,8,1", "9600,none,8,1", "+9600,n,8,1",
              "0,n,8,1", "99999999999,n,8,1", "9600,n,9,1", "9600,n,8,3", "9600,n,8,1.0"})
            QTest::addRow("'%s'", text) << text << QString();
    }
    void settings()
    {
        QFETCH(QString, text);
        const std::optional<PortSettings> read = parseSettings(text);
        const char *stops[] = {"1", "1.5", "2"};
        QTEST(read ? QString::asprintf("%d,%c,%d,%s", read->baud, "neoms"[read->parity],
                                       read -> dataBits, stops[read->stopBits])
                   : QString(),
              "parsed");
    }
};

QTEST_GUILESS_MAIN(tst_frames)
#include "tst_frames.moc"
